// "epk2 diff OLD NEW -o PATCH": the smallest patch that turns OLD into NEW,
// refused where the updater would refuse it, and proved by applying it to
// OLD as the updater does before it is kept.
#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <unordered_set>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "archive/entry_read.h"
#include "console_text.h"
#include "diff_patch.h"
#include "diff_proof.h"
#include "diff_tree.h"
#include "diff_warnings.h"
#include "update/loose_names.h"
#include "platform/platform.h"
#include "platform/wildcard_index.h"
#include "progress.h"
#include "stream/stream.h"
#include "stream/stream_ptr.h"
#include "stream/work_file.h"
#include "support/text.h"
#include "tool_support.h"
#include "update/update_action.h"
#include "update/update_texts.h"
#include "update/version_info.h"

namespace {

const std::string INFO_PATH = "/info.txt";
const std::string RULES_PATH = "/_config.txt";
const std::string EXTRACT_FOLDER = "/_extract";
// An info.txt is a few short lines; anything bigger is not one.
constexpr uint32_t INFO_MAX_BYTES = 64 * 1024;
// A value the updater reads back whole from a line of info.txt.
constexpr size_t INFO_VALUE_MAX = 200;
// Differences the proof names before it stops listing them.
constexpr size_t PROOF_DIFFERENCES_SHOWN = 20;

struct DiffOptions {
    std::string old_path, new_path, output_path; // code page 932
    std::string output_display;
    bool has_output = false;
    bool has_version = false, has_attribute = false;
    std::string version, attribute; // code page 932
    std::vector<std::string> patterns;
    bool strict = false, json = false, dry_run = false;
};

// What changed, file by file, in NEW's order.
struct Changes {
    std::vector<const TreeEntry*> changed;    // NEW's files that OLD holds with other content
    std::vector<const TreeEntry*> added;      // NEW's files that OLD lacks
    std::vector<const TreeEntry*> removed;    // OLD's files that NEW lacks
    std::vector<std::string> removed_folders; // OLD's outermost folders that NEW lacks
    std::vector<PatchItem> copies;            // --extract's copies under /_extract
    size_t unchanged = 0;
};

// The patch's path inside folder ("/Patch.dat"), when it lies there: it and
// its work files are not part of the data.
std::vector<std::string> output_inside(const std::string& folder, const DiffOptions& options) {
    return options.has_output ? path_inside(folder, options.output_path)
                              : std::vector<std::string>{};
}

bool valid_info_value(const std::string& value) {
    for (char c : value) {
        if (c == '\r' || c == '\n' || c == '=') {
            return false;
        }
    }
    return value.size() <= INFO_VALUE_MAX;
}

int parse_options(const Arguments& args, Console& console, DiffOptions& options) {
    options.dry_run = args.has("--dry-run");
    options.has_output = args.has("-o");
    if (args.positional.size() != 2 || (!options.has_output && !options.dry_run)) {
        print_error(console, "diff: give OLD, NEW and -o PATCH (see epk2 diff --help)");
        return EXIT_USAGE;
    }
    options.strict = args.has("--strict");
    options.json = args.has("--json");
    options.output_display = to_console_from_terminal(args.value("-o", "PATCH"));
    if (!argument_to_library(console, args.positional[0], options.old_path) ||
        !argument_to_library(console, args.positional[1], options.new_path) ||
        (options.has_output &&
         !argument_to_library(console, args.value("-o"), options.output_path))) {
        return EXIT_USAGE;
    }
    for (const auto& [name, value] : args.options) {
        if (name == "--extract") {
            std::string pattern;
            if (!argument_to_library(console, value, pattern)) {
                return EXIT_USAGE;
            }
            options.patterns.push_back(pattern);
        }
    }
    auto info_value = [&](const char* flag, bool& has, std::string& text) {
        has = args.has(flag);
        if (!has) {
            return true;
        }
        if (!argument_to_library(console, args.value(flag), text)) {
            return false;
        }
        if (!valid_info_value(text)) {
            print_error(console, std::string("diff: ") + flag +
                                     " takes one line of at most 200 bytes without \"=\"");
            return false;
        }
        return true;
    };
    if (!info_value("--version", options.has_version, options.version) ||
        !info_value("--attribute", options.has_attribute, options.attribute)) {
        return EXIT_USAGE;
    }
    if (options.has_version && options.version.empty()) {
        print_error(console, "diff: --version needs a value");
        return EXIT_USAGE;
    }
    if (options.has_output) {
        if (options.output_path == options.old_path || options.output_path == options.new_path) {
            print_error(console, "diff: -o names OLD or NEW itself; write the patch elsewhere");
            return EXIT_USAGE;
        }
        uint32_t attributes = platform_attributes(options.output_path.c_str());
        if (attributes != PLATFORM_ATTRIBUTES_INVALID &&
            (attributes & PLATFORM_ATTRIBUTE_DIRECTORY)) {
            print_error(console, options.output_display + ": is a folder; -o names the patch file");
            return EXIT_USAGE;
        }
    }
    return EXIT_OK;
}

// Reads NEW's info.txt whole (it is small) for --version and --attribute.
int read_small_file(Console& console, const Tree& tree, const TreeEntry& entry,
                    std::string& bytes) {
    if (entry.size > INFO_MAX_BYTES) {
        print_error(console, tree.display + ": info.txt holds " + std::to_string(entry.size) +
                                 " bytes; an info.txt of over 64 KiB is no version file");
        return EXIT_DAMAGED;
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
        print_error(console, tree.display + ": info.txt cannot be read: " + read.problem);
        return tree.is_archive ? EXIT_DAMAGED : EXIT_USAGE;
    }
    return EXIT_OK;
}

// Sets NEW's info.txt to what the patch carries: NEW's own, or the one
// --version and --attribute write.
int prepare_info(Console& console, const DiffOptions& options, Tree& target, std::string& written) {
    if (!options.has_version && !options.has_attribute) {
        return EXIT_OK;
    }
    std::string original;
    if (const TreeEntry* info = target.file(INFO_PATH)) {
        if (int status = read_small_file(console, target, *info, original)) {
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
    return EXIT_OK;
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

std::string quoted(const char* cp932) {
    std::string text(1, '"');
    text += to_console(cp932);
    text += '"';
    return text;
}

// The updater's decision (refresh_versions): the installed version must be
// lower than the patch's, compared as numbers, and the attributes equal.
int check_versions(Console& console, const DiffOptions& options, const Tree& old_tree,
                   const Tree& target) {
    VersionInfo old_info;
    VersionInfo patch;
    bool old_has = read_info(old_tree.fs.get(), old_tree.file(INFO_PATH), old_info);
    bool patch_has = read_info(target.fs.get(), target.file(INFO_PATH), patch);
    if (options.has_version && std::strcmp(patch.version, options.version.c_str()) != 0) {
        print_error(console, "diff: --version does not read back from info.txt as given");
        return EXIT_USAGE;
    }
    if (options.has_attribute && std::strcmp(patch.attribute, options.attribute.c_str()) != 0) {
        print_error(console, "diff: --attribute does not read back from info.txt as given");
        return EXIT_USAGE;
    }
    int status = EXIT_OK;
    const std::string old_name =
        "OLD's " + quoted(old_info.version) + (old_has ? "" : " (OLD has no info.txt)");
    const UpdateDecision decision = update_decide(old_info, patch);
    if (!decision.patch_newer) {
        print_error(console, "diff: the updater would refuse this patch: " +
                                 to_console(TEXT_NO_UPDATE_NEEDED));
        print_error(console,
                    "diff: " +
                        (patch_has ? "its version " + quoted(patch.version)
                                   : std::string("NEW has no info.txt, so no version, and it")) +
                        " is not higher than " + old_name +
                        ": the updater compares versions as decimal numbers (1.9 is "
                        "newer than 1.10) and starts the game instead; give a higher "
                        "one with --version");
        status = EXIT_DAMAGED;
    }
    if (!decision.same_kind) {
        print_error(console,
                    "diff: the updater would refuse this patch: " + to_console(TEXT_KIND_DIFFERS));
        print_error(console, "diff: its attribute " + quoted(patch.attribute) + " is not OLD's " +
                                 quoted(old_info.attribute) +
                                 ": the updater applies a patch only to data of the same kind; "
                                 "give OLD's with --attribute");
        status = EXIT_DAMAGED;
    }
    return status;
}

// Compares every file of NEW with OLD's file of that path.
int classify(Console& console, const Tree& old_tree, const Tree& target, Changes& changes) {
    std::vector<const TreeEntry*> files;
    for (const TreeEntry& entry : target.entries) {
        if (!entry.directory) {
            files.push_back(&entry);
        }
    }
    std::vector<const TreeEntry*> olds(files.size());
    std::vector<Comparison> results(files.size());
    ProgressBar bar(console, "compare", files.size(), target.file_bytes);
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

    int status = EXIT_OK;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string shown = to_console(files[i]->path);
        if (!olds[i]) {
            changes.added.push_back(files[i]);
        } else if (results[i].second_damaged()) {
            print_error(console, target.display + ": " + shown +
                                     " cannot be read: " + results[i].second_problem);
            status = std::max(status, target.is_archive ? EXIT_DAMAGED : EXIT_USAGE);
        } else if (results[i].same) {
            ++changes.unchanged;
        } else {
            if (results[i].first_damaged()) {
                print_error(console, "warning: " + old_tree.display + ": " + shown +
                                         " cannot be read whole (" + results[i].first_problem +
                                         "); the patch carries NEW's");
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

// --extract: changed files that match go under /_extract as well, by their
// last name component, as the updater copies them out.
int place_copies(Console& console, const DiffOptions& options, const Tree& target,
                 Changes& changes) {
    if (options.patterns.empty()) {
        return EXIT_OK;
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
            print_error(console, "diff: --extract: " + to_console(file->path) + " would go to " +
                                     to_console(path) + ", which NEW holds itself");
            return EXIT_USAGE;
        }
        for (const PatchItem& copy : changes.copies) {
            if (copy.path == path) {
                print_error(console, "diff: --extract: " + to_console(copy.from->path) + " and " +
                                         to_console(file->path) + " would both go to " +
                                         to_console(path));
                return EXIT_USAGE;
            }
        }
        changes.copies.push_back({path, file});
    }
    return EXIT_OK;
}

void find_removed(const Tree& old_tree, const Tree& target, Changes& changes) {
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
int check_loose_names(Console& console, const Tree& old_tree, const Tree& target,
                      const Changes& changes) {
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
            print_error(console, "diff: the updater would stop at the loose file " +
                                     to_console(*path) + " (" + why +
                                     "): " + to_console(TEXT_OVERWRITE_FAILED));
            return EXIT_DAMAGED;
        }
    }
    return EXIT_OK;
}

// The files and folders the patch holds, in NEW's order: the changed and
// added files, info.txt and _config.txt (the updater reads the version
// from the one and its merge's packing rules from the other), the folders
// they lie in, the folders OLD lacks, and the copies under /_extract.
std::vector<PatchItem> plan_patch(const Tree& old_tree, const Tree& target,
                                  const Changes& changes) {
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

uint64_t bytes_of(const std::vector<const TreeEntry*>& files) {
    uint64_t total = 0;
    for (const TreeEntry* file : files) {
        total += file->size;
    }
    return total;
}

void warn_stays(Console& console, const Changes& changes) {
    for (const std::string& folder : changes.removed_folders) {
        print_error(console, "warning: stays after the update: " + to_console(folder) + "/");
    }
    for (const TreeEntry* file : changes.removed) {
        print_error(console, "warning: stays after the update: " + to_console(file->path));
    }
}

// The summary's figures beyond the lists.
struct Outcome {
    std::vector<PatchItem> items;
    bool written = false;
    uint32_t patch_files = 0, patch_dirs = 0;
    uint32_t patch_bytes = 0;
    size_t stays = 0;
    VersionInfo info{};
};

void print_json_files(Console& console, const char* name,
                      const std::vector<const TreeEntry*>& files, const Tree* old_tree) {
    std::fprintf(console.out, ",\n  \"%s\": [", name);
    const char* separator = "";
    for (const TreeEntry* file : files) {
        std::fprintf(console.out, "%s\n    {\"path\": \"%s\", \"size\": %" PRIu32, separator,
                     to_json_string(file->path).c_str(), file->size);
        if (old_tree) {
            std::fprintf(console.out, ", \"old_size\": %" PRIu32, old_tree->file(file->path)->size);
        }
        std::fputs("}", console.out);
        separator = ",";
    }
    std::fputs(files.empty() ? "]" : "\n  ]", console.out);
}

void print_json(Console& console, const DiffOptions& options, const Tree& old_tree,
                const Tree& target, const Changes& changes, const Outcome& outcome) {
    auto side = [&](const Tree& tree) {
        size_t files = tree.files.size();
        std::fprintf(console.out,
                     "{\"path\": \"%s\", \"kind\": \"%s\", \"files\": %zu, \"bytes\": %" PRIu64 "}",
                     to_json_string(tree.library_path).c_str(),
                     tree.is_archive ? "archive" : "folder", files, tree.file_bytes);
    };
    std::fputs("{\n  \"old\": ", console.out);
    side(old_tree);
    std::fputs(",\n  \"new\": ", console.out);
    side(target);
    std::fprintf(
        console.out,
        ",\n  \"patch\": {\"path\": \"%s\", \"written\": %s, \"files\": %zu, "
        "\"version\": \"%s\", \"attribute\": \"%s\"",
        options.has_output ? to_json_string(options.output_path).c_str() : "",
        outcome.written ? "true" : "false",
        static_cast<size_t>(std::count_if(outcome.items.begin(), outcome.items.end(),
                                          [](const PatchItem& item) { return !item.directory(); })),
        to_json_string(outcome.info.version).c_str(),
        to_json_string(outcome.info.attribute).c_str());
    if (outcome.written) {
        std::fprintf(console.out, ", \"directories\": %" PRIu32 ", \"bytes\": %" PRIu32,
                     outcome.patch_dirs, outcome.patch_bytes);
    }
    std::fputs("}", console.out);
    print_json_files(console, "changed", changes.changed, &old_tree);
    print_json_files(console, "added", changes.added, nullptr);
    print_json_files(console, "removed", changes.removed, nullptr);
    std::fputs(",\n  \"removed_folders\": [", console.out);
    for (size_t i = 0; i < changes.removed_folders.size(); ++i) {
        std::fprintf(console.out, "%s\"%s\"", i ? ", " : "",
                     to_json_string(changes.removed_folders[i]).c_str());
    }
    std::fputs("],\n  \"extract\": [", console.out);
    for (size_t i = 0; i < changes.copies.size(); ++i) {
        const PatchItem& copy = changes.copies[i];
        std::fprintf(console.out,
                     "%s\n    {\"path\": \"%s\", \"from\": \"%s\", \"size\": %" PRIu32 "}",
                     i ? "," : "", to_json_string(copy.path).c_str(),
                     to_json_string(copy.from->path).c_str(), copy.from->size);
    }
    std::fprintf(console.out, "%s,\n  \"unchanged\": %zu,\n  \"proof\": ",
                 changes.copies.empty() ? "]" : "\n  ]", changes.unchanged);
    if (outcome.written) {
        std::fprintf(console.out, "{\"changed\": %zu, \"added\": %zu, \"removed\": %zu}\n}\n",
                     changes.changed.size(), changes.added.size(), outcome.stays);
    } else {
        std::fputs("null\n}\n", console.out);
    }
}

void print_text(Console& console, const DiffOptions& options, const Changes& changes,
                const Outcome& outcome, const std::string& old_display,
                const std::string& new_display) {
    size_t files =
        static_cast<size_t>(std::count_if(outcome.items.begin(), outcome.items.end(),
                                          [](const PatchItem& item) { return !item.directory(); }));
    if (outcome.written) {
        std::fprintf(console.out, "%s: %s in %s, %s\n", options.output_display.c_str(),
                     count_of(outcome.patch_files, "file", "files").c_str(),
                     count_of(outcome.patch_dirs, "directory", "directories").c_str(),
                     format_bytes(outcome.patch_bytes).c_str());
    } else {
        std::fprintf(console.out, "dry run: nothing written or proved; the patch would hold %s\n",
                     count_of(files, "file", "files").c_str());
    }
    std::fprintf(console.out,
                 "%zu changed (%s), %zu added (%s), %zu unchanged; info.txt: version %s, "
                 "attribute %s\n",
                 changes.changed.size(), format_bytes(double(bytes_of(changes.changed))).c_str(),
                 changes.added.size(), format_bytes(double(bytes_of(changes.added))).c_str(),
                 changes.unchanged, to_console(outcome.info.version).c_str(),
                 to_console(outcome.info.attribute).c_str());
    if (!changes.copies.empty()) {
        std::fprintf(console.out, "%s also under /_extract\n",
                     count_of(changes.copies.size(), "changed file", "changed files").c_str());
    }
    if (!changes.removed.empty() || !changes.removed_folders.empty()) {
        std::fprintf(console.out, "%s and %s of OLD stay after the update\n",
                     count_of(changes.removed.size(), "file", "files").c_str(),
                     count_of(changes.removed_folders.size(), "folder", "folders").c_str());
    }
    if (outcome.written) {
        std::fprintf(console.out,
                     "applying %s to %s gives %s: %zu files changed, %zu added, %zu removed\n",
                     options.output_display.c_str(), old_display.c_str(), new_display.c_str(),
                     changes.changed.size(), changes.added.size(), outcome.stays);
    }
}

// Writes the patch into a work file beside the output, proves it, and
// moves it into place when proved.
int write_and_prove(Console& console, const DiffOptions& options, Tree& old_tree,
                    const Tree& target, const Changes& changes, Outcome& outcome) {
    const std::string& shown = options.output_display;
    WorkFile work;
    if (!work_file_create(&work, options.output_path.c_str())) {
        print_error(console, shown + ": cannot create a new file beside it");
        return EXIT_USAGE;
    }
    Stream* output = work_file_stream(&work, nullptr);
    FileSystemPtr view(patch_view_open(target.fs.get(), outcome.items));
    if (!output || !view) {
        if (output) {
            stream_close(output);
        }
        work_file_discard(&work);
        print_error(console, shown + ": out of memory");
        return EXIT_USAGE;
    }
    bool packed = false;
    std::string why;
    {
        ArchiveBuilder builder;
        builder.options.log = nullptr;
        builder.options.threads = 0;
        packed = pack_with_progress(builder, console, "patch", output, view.get(), nullptr);
        why = builder.error();
    }
    stream_close(output);
    view.reset();
    if (!packed) {
        work_file_discard(&work);
        print_error(console, shown + ": diff failed: " + to_console(why));
        return EXIT_USAGE;
    }
    platform_file_size(work.file, &outcome.patch_bytes, nullptr);

    std::unordered_set<std::string> removed;
    for (const TreeEntry* file : changes.removed) {
        removed.insert(file->path);
    }
    ProofOutcome proof = prove_patch(
        console, {&work, options.output_path, &old_tree, &target, &changes.copies, &removed});
    if (proof.status != ProofOutcome::PROVED) {
        work_file_discard(&work);
        if (proof.status == ProofOutcome::DIFFERENT) {
            print_error(console, "diff: applying " + shown + " to " + old_tree.display +
                                     " does not give " + target.display + "; nothing was written:");
            for (size_t i = 0; i < proof.differences.size() && i < PROOF_DIFFERENCES_SHOWN; ++i) {
                print_error(console, "  " + to_console(proof.differences[i]));
            }
            if (proof.differences.size() > PROOF_DIFFERENCES_SHOWN) {
                print_error(console,
                            "  and " +
                                std::to_string(proof.differences.size() - PROOF_DIFFERENCES_SHOWN) +
                                " more");
            }
            return EXIT_USAGE;
        }
        if (proof.status == ProofOutcome::MERGE_REFUSED) {
            print_error(console, "diff: the updater's merge would fail on this patch (" +
                                     to_console(proof.error) +
                                     "): " + to_console(TEXT_INTERMEDIATE_FAILED));
            return EXIT_DAMAGED;
        }
        print_error(console, shown + ": the proof failed: " + to_console(proof.error));
        return EXIT_USAGE;
    }
    outcome.stays = proof.stays;
    if (!work_file_commit(&work)) {
        print_error(console, shown + ": cannot move the new patch into place");
        return EXIT_USAGE;
    }
    outcome.written = true;
    ArchiveHeaderInfo header{};
    FileSystemPtr written(archive_open(nullptr, options.output_path.c_str(), nullptr));
    if (!written || !archive_header_info(written.get(), &header)) {
        print_error(console, shown + ": the new patch cannot be read back");
        return EXIT_USAGE;
    }
    outcome.patch_files = header.file_count;
    outcome.patch_dirs = header.dir_count - 1; // as list counts them: the root aside
    return EXIT_OK;
}

} // namespace

int command_diff(const Arguments& args, Console& console) {
    DiffOptions options;
    if (int status = parse_options(args, console, options)) {
        return status;
    }
    // The library's own messages are not for the user: each failure is
    // reported here, with its reason.
    MessageCapture quiet;
    Tree old_tree;
    Tree target;
    int status = EXIT_OK;
    if (!open_tree(console, args.positional[0], options.old_path,
                   output_inside(options.old_path, options), false, old_tree, status) ||
        !open_tree(console, args.positional[1], options.new_path,
                   output_inside(options.new_path, options), true, target, status)) {
        return status;
    }
    std::string written_info;
    if ((status = prepare_info(console, options, target, written_info)) ||
        (status = check_versions(console, options, old_tree, target))) {
        return status;
    }
    Changes changes;
    if ((status = classify(console, old_tree, target, changes)) ||
        (status = place_copies(console, options, target, changes))) {
        return status;
    }
    find_removed(old_tree, target, changes);
    warn_stays(console, changes);
    const size_t clashes = warn_file_folder_clashes(console, old_tree, target, changes.copies);
    const size_t collisions =
        warn_loose_collisions(console, target, changes.copies, changes.removed);
    if (options.strict && (!changes.removed.empty() || !changes.removed_folders.empty())) {
        print_error(console, "diff: refused (--strict): " +
                                 count_of(changes.removed.size(), "file", "files") + " and " +
                                 count_of(changes.removed_folders.size(), "folder", "folders") +
                                 " of OLD are not in NEW, and a patch cannot delete");
        return EXIT_DAMAGED;
    }
    if (options.strict && (clashes || collisions)) {
        print_error(console,
                    "diff: refused (--strict): " + count_of(clashes, "path is", "paths are") +
                        " a file on one side and a folder on the other, and " +
                        count_of(collisions, "loose file name is", "loose file names are") +
                        " taken by more than one file below /_extract");
        return EXIT_DAMAGED;
    }
    if ((status = check_loose_names(console, old_tree, target, changes))) {
        return status;
    }

    Outcome outcome;
    outcome.items = plan_patch(old_tree, target, changes);
    read_info(target.fs.get(), target.file(INFO_PATH), outcome.info);
    if (!options.dry_run &&
        (status = write_and_prove(console, options, old_tree, target, changes, outcome))) {
        return status;
    }
    if (options.json) {
        print_json(console, options, old_tree, target, changes, outcome);
    } else {
        print_text(console, options, changes, outcome, old_tree.display, target.display);
    }
    return std::ferror(console.out) ? EXIT_USAGE : EXIT_OK;
}
