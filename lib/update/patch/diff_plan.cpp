#include "update/patch/diff_plan.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "archive/entry_read.h"
#include "platform/platform.h"
#include "platform/wildcard_index.h"
#include "stream/stream.h"
#include "stream/stream_ptr.h"
#include "stream/work_file.h"
#include "support/text.h"
#include "support/text_count.h"
#include "update/loose_names.h"
#include "update/patch/diff_proof.h"
#include "update/patch/diff_warnings.h"
#include "update/update_action.h"
#include "update/update_progress.h"
#include "update/update_texts.h"

namespace {

const std::string INFO_PATH = "/info.txt";
const std::string RULES_PATH = "/_config.txt";
const std::string EXTRACT_FOLDER = "/_extract";
// An info.txt is a few short lines; anything bigger is not one.
constexpr uint32_t INFO_MAX_BYTES = 64 * 1024;
// Differences the proof names before it stops listing them.
constexpr size_t PROOF_DIFFERENCES_SHOWN = 20;

// Reads NEW's info.txt whole (it is small) to give it a new version or
// attribute.
DiffStatus read_small_file(const DiffReporter& reporter, const Tree& tree, const TreeEntry& entry,
                           std::string& bytes) {
    if (entry.size > INFO_MAX_BYTES) {
        reporter.error(tree.display + ": info.txt holds " + std::to_string(entry.size) +
                       " bytes; an info.txt of over 64 KiB is no version file");
        return DIFF_REFUSED;
    }
    StreamPtr stream(open_file_content(FileRef{tree.fs.get(), &entry}));
    unsigned char buffer[4096];
    EntryReadResult read = entry_read_stream(
        stream.get(), entry.size, entry.has_record && entry.record.stored_size != entry.record.size,
        [&](const unsigned char* data, uint32_t n) {
            bytes.append(reinterpret_cast<const char*>(data), n);
            return true;
        },
        buffer, sizeof buffer);
    if (!read.whole()) {
        reporter.error(tree.display + ": info.txt cannot be read: " + read.problem);
        return tree.is_archive ? DIFF_REFUSED : DIFF_FAILED;
    }
    return DIFF_OK;
}

// Sets NEW's info.txt to what the patch carries: NEW's own, or the one
// written with the requested version and attribute.
DiffStatus prepare_info(const DiffReporter& reporter, const DiffRequest& options, Tree& target,
                        std::string& written) {
    if (!options.has_version && !options.has_attribute) {
        return DIFF_OK;
    }
    std::string original;
    if (const TreeEntry* info = target.file(INFO_PATH)) {
        if (DiffStatus status = read_small_file(reporter, target, *info, original)) {
            return status;
        }
    }
    written = rewrite_info(original, options.has_version ? &options.version : nullptr,
                           options.has_attribute ? &options.attribute : nullptr);
    TreeEntry entry;
    entry.path = INFO_PATH;
    entry.size = static_cast<uint32_t>(written.size());
    entry.content = &written;
    tree_put_file(target, std::move(entry));
    return DIFF_OK;
}

// info.txt read as the updater reads it; false when there is none.
bool read_info(FileSystem* fs, const TreeEntry* entry, VersionInfo& info) {
    info = VersionInfo{};
    if (!entry) {
        return false;
    }
    std::vector<PatchItem> items = {{INFO_PATH, entry}};
    FileSystemPtr view(patch_view_open(fs, items));
    return view && read_version_info(view.get(), &info);
}

std::string quoted(const DiffReporter& reporter, const char* cp932) {
    std::string text(1, '"');
    text += reporter.show(cp932);
    text += '"';
    return text;
}

// The updater's decision (update_decide): the installed version must be
// lower than the patch's, compared as numbers, and the attributes equal.
DiffStatus check_versions(const DiffReporter& reporter, const DiffRequest& options,
                          const Tree& old_tree, const Tree& target) {
    VersionInfo old_info;
    VersionInfo patch;
    bool old_has = read_info(old_tree.fs.get(), old_tree.file(INFO_PATH), old_info);
    bool patch_has = read_info(target.fs.get(), target.file(INFO_PATH), patch);
    if (options.has_version && std::strcmp(patch.version, options.version.c_str()) != 0) {
        reporter.error("diff: --version does not read back from info.txt as given");
        return DIFF_FAILED;
    }
    if (options.has_attribute && std::strcmp(patch.attribute, options.attribute.c_str()) != 0) {
        reporter.error("diff: --attribute does not read back from info.txt as given");
        return DIFF_FAILED;
    }
    DiffStatus status = DIFF_OK;
    const std::string old_name =
        "OLD's " + quoted(reporter, old_info.version) + (old_has ? "" : " (OLD has no info.txt)");
    const UpdateDecision decision = update_decide(old_info, patch);
    if (!decision.patch_newer) {
        reporter.error("diff: the updater would refuse this patch: " +
                       reporter.show(TEXT_NO_UPDATE_NEEDED));
        reporter.error("diff: " +
                       (patch_has ? "its version " + quoted(reporter, patch.version)
                                  : std::string("NEW has no info.txt, so no version, and it")) +
                       " is not higher than " + old_name +
                       ": the updater compares versions as decimal numbers (1.9 is "
                       "newer than 1.10) and starts the game instead; give a higher "
                       "one with --version");
        status = DIFF_REFUSED;
    }
    if (!decision.same_kind) {
        reporter.error("diff: the updater would refuse this patch: " +
                       reporter.show(TEXT_KIND_DIFFERS));
        reporter.error("diff: its attribute " + quoted(reporter, patch.attribute) +
                       " is not OLD's " + quoted(reporter, old_info.attribute) +
                       ": the updater applies a patch only to data of the same kind; "
                       "give OLD's with --attribute");
        status = DIFF_REFUSED;
    }
    return status;
}

// Compares every file of NEW with OLD's file of that path.
DiffStatus classify(const DiffReporter& reporter, const Tree& old_tree, const Tree& target,
                    DiffChanges& changes) {
    std::vector<const TreeEntry*> files;
    for (const TreeEntry& entry : target.entries) {
        if (!entry.directory) {
            files.push_back(&entry);
        }
    }
    std::vector<const TreeEntry*> olds(files.size());
    std::vector<Comparison> results(files.size());
    UpdateProgressStage bar(reporter.progress, reporter.context, "compare", files.size(),
                            target.file_bytes);
    compare_in_parallel(
        files.size(),
        [&](size_t i, FileComparer& comparer) {
            olds[i] = old_tree.file(files[i]->path);
            if (olds[i]) {
                results[i] = comparer.compare(FileRef{old_tree.fs.get(), olds[i]},
                                              FileRef{target.fs.get(), files[i]});
            }
        },
        [&](size_t i) { return uint64_t(files[i]->size); }, bar);
    bar.finish();

    DiffStatus status = DIFF_OK;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string shown = reporter.show(files[i]->path);
        if (!olds[i]) {
            changes.added.push_back(files[i]);
        } else if (results[i].second_damaged()) {
            reporter.error(target.display + ": " + shown +
                           " cannot be read: " + results[i].second_problem);
            status = std::max(status, target.is_archive ? DIFF_REFUSED : DIFF_FAILED);
        } else if (results[i].same) {
            ++changes.unchanged;
        } else {
            if (results[i].first_damaged()) {
                reporter.warning(old_tree.display + ": " + shown + " cannot be read whole (" +
                                 results[i].first_problem + "); the patch carries NEW's");
            }
            changes.changed.push_back(files[i]);
        }
    }
    return status;
}

bool below(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// Changed files that match the request's patterns go under /_extract as
// well, by their last name component, as the updater copies them out.
DiffStatus place_copies(const DiffReporter& reporter, const DiffRequest& options,
                        const Tree& target, DiffChanges& changes) {
    if (options.patterns.empty()) {
        return DIFF_OK;
    }
    std::unordered_set<const TreeEntry*> changed(changes.changed.begin(), changes.changed.end());
    changed.insert(changes.added.begin(), changes.added.end());
    // Matched as the builder matches its packing rules.
    WildcardIndex extract;
    index_packing_rules(options.patterns, extract);
    for (const TreeEntry& entry : target.entries) {
        const TreeEntry* file = &entry;
        if (!changed.count(file) || below(file->path, EXTRACT_FOLDER) || file->path == INFO_PATH ||
            file->path == RULES_PATH || !wildcard_index_match(extract, file->path.c_str())) {
            continue;
        }
        std::string path = EXTRACT_FOLDER + "/" + path_file_name(file->path.c_str());
        if (target.file(path)) {
            reporter.error("diff: --extract: " + reporter.show(file->path) + " would go to " +
                           reporter.show(path) + ", which NEW holds itself");
            return DIFF_FAILED;
        }
        for (const PatchItem& copy : changes.copies) {
            if (copy.path == path) {
                reporter.error("diff: --extract: " + reporter.show(copy.from->path) + " and " +
                               reporter.show(file->path) + " would both go to " +
                               reporter.show(path));
                return DIFF_FAILED;
            }
        }
        changes.copies.push_back({path, file});
    }
    return DIFF_OK;
}

void find_removed(const Tree& old_tree, const Tree& target, DiffChanges& changes) {
    std::unordered_set<std::string> copies;
    for (const PatchItem& copy : changes.copies) {
        copies.insert(copy.path);
    }
    std::unordered_set<std::string> gone;
    for (const TreeEntry& entry : old_tree.entries) {
        if (entry.directory) {
            if (target.has_folder(entry.path)) {
                continue;
            }
            gone.insert(entry.path);
            std::string parent = entry.path.substr(0, entry.path.rfind('/'));
            if (!gone.count(parent)) {
                changes.removed_folders.push_back(entry.path);
            }
        } else if (!target.files.count(entry.path) && !copies.count(entry.path)) {
            changes.removed.push_back(&entry);
        }
    }
}

// Every file below /_extract of the merged data is copied into the install
// folder; the updater stops at the first name it will not write.
DiffStatus check_loose_names(const DiffReporter& reporter, const Tree& old_tree, const Tree& target,
                             const DiffChanges& changes) {
    std::vector<const std::string*> paths;
    for (const Tree* tree : {&old_tree, &target}) {
        for (const TreeEntry& entry : tree->entries) {
            if (!entry.directory && below(entry.path, EXTRACT_FOLDER)) {
                paths.push_back(&entry.path);
            }
        }
    }
    for (const PatchItem& copy : changes.copies) {
        paths.push_back(&copy.path);
    }
    for (const std::string* path : paths) {
        std::string why;
        if (!loose_name_allowed(path_file_name(path->c_str()), why)) {
            reporter.error("diff: the updater would stop at the loose file " +
                           reporter.show(*path) + " (" + why +
                           "): " + reporter.show(TEXT_OVERWRITE_FAILED));
            return DIFF_REFUSED;
        }
    }
    return DIFF_OK;
}

// The files and folders the patch holds, in NEW's order: the changed and
// added files, info.txt and _config.txt (the updater reads the version
// from the one and its merge's packing rules from the other), the folders
// they lie in, the folders OLD lacks, and the copies under /_extract.
std::vector<PatchItem> plan_patch(const Tree& old_tree, const Tree& target,
                                  const DiffChanges& changes) {
    std::unordered_set<std::string> carried;
    for (const auto* list : {&changes.changed, &changes.added}) {
        for (const TreeEntry* file : *list) {
            carried.insert(file->path);
        }
    }
    for (const std::string& always : {INFO_PATH, RULES_PATH}) {
        if (target.file(always)) {
            carried.insert(always);
        }
    }
    std::unordered_set<std::string> needed;
    auto need_parents = [&](const std::string& path) {
        for (size_t slash = path.find('/', 1); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            needed.insert(path.substr(0, slash));
        }
    };
    for (const std::string& path : carried) {
        need_parents(path);
    }
    for (const PatchItem& copy : changes.copies) {
        need_parents(copy.path);
    }
    std::vector<PatchItem> items;
    for (const TreeEntry& entry : target.entries) {
        if (entry.directory && (needed.count(entry.path) || !old_tree.has_folder(entry.path))) {
            items.push_back({entry.path, nullptr});
        } else if (!entry.directory && carried.count(entry.path)) {
            items.push_back({entry.path, &entry});
        }
    }
    if (!changes.copies.empty() && !target.has_folder(EXTRACT_FOLDER)) {
        items.push_back({EXTRACT_FOLDER, nullptr});
    }
    items.insert(items.end(), changes.copies.begin(), changes.copies.end());
    return items;
}

void warn_stays(const DiffReporter& reporter, const DiffChanges& changes) {
    for (const std::string& folder : changes.removed_folders) {
        reporter.error("warning: stays after the update: " + reporter.show(folder) + "/");
    }
    for (const TreeEntry* file : changes.removed) {
        reporter.error("warning: stays after the update: " + reporter.show(file->path));
    }
}

// Writes the patch into a work file beside the output, proves it, and
// moves it into place when proved.
DiffStatus write_and_prove(const DiffReporter& reporter, const DiffRequest& options, Tree& old_tree,
                           const Tree& target, const DiffChanges& changes, DiffOutcome& outcome) {
    const std::string& shown = options.output_display;
    WorkFile work;
    if (!work_file_create(&work, options.output_path.c_str())) {
        reporter.error(shown + ": cannot create a new file beside it");
        return DIFF_FAILED;
    }
    Stream* output = work_file_stream(&work, nullptr);
    FileSystemPtr view(patch_view_open(target.fs.get(), outcome.items));
    if (!output || !view) {
        if (output) {
            stream_close(output);
        }
        work_file_discard(&work);
        reporter.error(shown + ": out of memory");
        return DIFF_FAILED;
    }
    bool packed = false;
    std::string why;
    {
        ArchiveBuilder builder;
        builder.options.log = nullptr;
        builder.options.threads = 0;
        packed = update_pack_reporting(builder, output, view.get(), nullptr, "patch",
                                       reporter.progress, reporter.context);
        why = builder.error();
    }
    stream_close(output);
    view.reset();
    if (!packed) {
        work_file_discard(&work);
        reporter.error(shown + ": diff failed: " + reporter.show(why));
        return DIFF_FAILED;
    }
    platform_file_size(work.file, &outcome.patch_bytes, nullptr);

    std::unordered_set<std::string> removed;
    for (const TreeEntry* file : changes.removed) {
        removed.insert(file->path);
    }
    ProofOutcome proof = prove_patch(
        reporter, {&work, options.output_path, &old_tree, &target, &changes.copies, &removed});
    if (proof.status != ProofOutcome::PROVED) {
        work_file_discard(&work);
        if (proof.status == ProofOutcome::DIFFERENT) {
            reporter.error("diff: applying " + shown + " to " + old_tree.display +
                           " does not give " + target.display + "; nothing was written:");
            for (size_t i = 0; i < proof.differences.size() && i < PROOF_DIFFERENCES_SHOWN; ++i) {
                reporter.error("  " + reporter.show(proof.differences[i]));
            }
            if (proof.differences.size() > PROOF_DIFFERENCES_SHOWN) {
                reporter.error("  and " +
                               std::to_string(proof.differences.size() - PROOF_DIFFERENCES_SHOWN) +
                               " more");
            }
            return DIFF_FAILED;
        }
        if (proof.status == ProofOutcome::MERGE_REFUSED) {
            reporter.error("diff: the updater's merge would fail on this patch (" +
                           reporter.show(proof.error) +
                           "): " + reporter.show(TEXT_INTERMEDIATE_FAILED));
            return DIFF_REFUSED;
        }
        reporter.error(shown + ": the proof failed: " + reporter.show(proof.error));
        return DIFF_FAILED;
    }
    outcome.stays = proof.stays;
    if (!work_file_commit(&work)) {
        reporter.error(shown + ": cannot move the new patch into place");
        return DIFF_FAILED;
    }
    outcome.written = true;
    ArchiveHeaderInfo header{};
    FileSystemPtr written(archive_open(nullptr, options.output_path.c_str(), nullptr));
    if (!written || !archive_header_info(written.get(), &header)) {
        reporter.error(shown + ": the new patch cannot be read back");
        return DIFF_FAILED;
    }
    outcome.patch_files = header.file_count;
    outcome.patch_dirs = header.dir_count - 1; // as list counts them: the root aside
    return DIFF_OK;
}

} // namespace

DiffStatus diff_make(const DiffRequest& options, Tree& old_tree, Tree& target,
                     const DiffReporter& reporter, DiffResult& result) {
    DiffStatus status = DIFF_OK;
    DiffChanges& changes = result.changes;
    DiffOutcome& outcome = result.outcome;
    if ((status = prepare_info(reporter, options, target, result.written_info)) ||
        (status = check_versions(reporter, options, old_tree, target))) {
        return status;
    }
    if ((status = classify(reporter, old_tree, target, changes)) ||
        (status = place_copies(reporter, options, target, changes))) {
        return status;
    }
    find_removed(old_tree, target, changes);
    warn_stays(reporter, changes);
    const size_t clashes = warn_file_folder_clashes(reporter, old_tree, target, changes.copies);
    const size_t collisions =
        warn_loose_collisions(reporter, target, changes.copies, changes.removed);
    if (options.strict && (!changes.removed.empty() || !changes.removed_folders.empty())) {
        reporter.error(
            "diff: refused (--strict): " + text_count_of(changes.removed.size(), "file", "files") +
            " and " + text_count_of(changes.removed_folders.size(), "folder", "folders") +
            " of OLD are not in NEW, and a patch cannot delete");
        return DIFF_REFUSED;
    }
    if (options.strict && (clashes || collisions)) {
        reporter.error(
            "diff: refused (--strict): " + text_count_of(clashes, "path is", "paths are") +
            " a file on one side and a folder on the other, and " +
            text_count_of(collisions, "loose file name is", "loose file names are") +
            " taken by more than one file below /_extract");
        return DIFF_REFUSED;
    }
    if ((status = check_loose_names(reporter, old_tree, target, changes))) {
        return status;
    }

    outcome.items = plan_patch(old_tree, target, changes);
    read_info(target.fs.get(), target.file(INFO_PATH), outcome.info);
    if (!options.dry_run &&
        (status = write_and_prove(reporter, options, old_tree, target, changes, outcome))) {
        return status;
    }
    return DIFF_OK;
}
