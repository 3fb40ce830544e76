#include "update/patch/diff_proof.h"

#include <new>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "update/update_logic.h"
#include "update/update_progress.h"

namespace {

// A file the result must hold: at path, with want's content.
struct Expected {
    const std::string* path;
    const TreeEntry* want;
};

// Merges the patch into OLD as the updater does (merge_archives_into): the
// patch first, so that its files win and its _config.txt gives the packing
// rules; OLD second, its entries carried over as they lie; deflating on
// every core.
bool merge_like_the_updater(const DiffReporter& reporter, FileSystem* patch, FileSystem* old,
                            Stream* output, ProofOutcome& outcome) {
    ArchiveBuilder builder;
    builder.options = update_merge_options(nullptr);
    bool merged = false;
    try {
        merged = update_pack_reporting(builder, output, patch, old, "merge", reporter.progress,
                                       reporter.context);
    } catch (const std::bad_alloc&) {
        outcome.error = "out of memory";
        return false;
    }
    if (!merged) {
        // Limits the merge breaks fail the update too; anything else is
        // this machine's trouble.
        outcome.status =
            builder.collect_error().empty() ? ProofOutcome::IO_FAILED : ProofOutcome::MERGE_REFUSED;
        outcome.error = builder.error();
    }
    return merged;
}

// For a folder OLD the merge is not written: the builder collects the
// patch and then OLD into its tree exactly as the updater's merge does, so
// that each file of the result is the patch's or OLD's as it would be
// there, and is read from that source. Writing the merge would deflate all
// of OLD anew only to inflate it again for the comparison.
bool replay_merge(FileSystem* patch, FileSystem* old, Tree& result, ProofOutcome& outcome) {
    ArchiveBuilder builder;
    builder.start_tree();
    builder.collect(patch);
    builder.collect(old);
    if (!builder.collect_error().empty()) {
        outcome.status = ProofOutcome::MERGE_REFUSED;
        outcome.error = builder.collect_error();
        return false;
    }
    for (uint32_t i = 0; i < builder.file_count(); ++i) {
        const CollectedFile file = builder.collected_file(i);
        TreeEntry entry;
        entry.path = file.path;
        entry.size = file.size;
        entry.has_record = file.record != nullptr;
        entry.record = file.record ? *file.record : ArchiveEntryInfo{};
        entry.fs = file.source;
        tree_put_file(result, std::move(entry));
    }
    return true;
}

void compare_result(const DiffReporter& reporter, const ProofInput& input, Tree& result,
                    ProofOutcome& outcome) {
    const Tree& target = *input.target;
    std::vector<Expected> expected;
    std::unordered_set<std::string> copy_paths;
    for (const TreeEntry& entry : target.entries) {
        if (!entry.directory) {
            expected.push_back({&entry.path, &entry});
        }
    }
    for (const PatchItem& copy : *input.copies) {
        expected.push_back({&copy.path, copy.from});
        copy_paths.insert(copy.path);
    }
    std::vector<std::string> why(expected.size());
    uint64_t bytes = 0;
    for (const Expected& file : expected) {
        bytes += file.want->size;
    }
    UpdateProgressStage bar(reporter.progress, reporter.context, "check", expected.size(), bytes);
    compare_in_parallel(
        expected.size(),
        [&](size_t i, FileComparer& comparer) {
            const TreeEntry* got = result.file(*expected[i].path);
            if (!got) {
                why[i] = "missing from the result";
                return;
            }
            FileSystem* holder = got->fs ? got->fs : result.fs.get();
            Comparison comparison =
                comparer.compare(FileRef{holder, got}, FileRef{target.fs.get(), expected[i].want});
            if (comparison.first_damaged()) {
                why[i] = "damaged in the result: " + comparison.first_problem;
            } else if (comparison.second_damaged()) {
                why[i] = "cannot be read from NEW: " + comparison.second_problem;
            } else if (!comparison.same) {
                why[i] = "the result's content is not NEW's";
            }
        },
        [&](size_t i) { return uint64_t(expected[i].want->size); }, bar);
    bar.finish();
    for (size_t i = 0; i < expected.size(); ++i) {
        if (!why[i].empty()) {
            outcome.differences.push_back(*expected[i].path + ": " + why[i]);
        }
    }
    // Whatever else the result holds must be what the patch cannot delete.
    for (const TreeEntry& entry : result.entries) {
        if (entry.directory || target.files.count(entry.path) || copy_paths.count(entry.path)) {
            continue;
        }
        if (input.removed->count(entry.path)) {
            ++outcome.stays;
        } else {
            outcome.differences.push_back(entry.path + ": in the result, but neither in NEW nor "
                                                       "left from OLD");
        }
    }
    outcome.status = outcome.differences.empty() ? ProofOutcome::PROVED : ProofOutcome::DIFFERENT;
}

} // namespace

ProofOutcome prove_patch(const DiffReporter& reporter, const ProofInput& input) {
    ProofOutcome outcome;
    FileSystemPtr patch(update_open_written_archive(input.patch));
    if (!patch) {
        outcome.error = "the written patch cannot be read back";
        return outcome;
    }
    FileSystem* old = input.old_tree->fs.get();
    if (!input.old_tree->is_archive) {
        Tree result;
        if (replay_merge(patch.get(), old, result, outcome)) {
            compare_result(reporter, input, result, outcome);
        }
        return outcome;
    }
    WorkFile merged_work;
    if (!work_file_create(&merged_work, input.output_path.c_str())) {
        outcome.error = "cannot create a work file for the merge beside the patch";
        return outcome;
    }
    Stream* output = work_file_stream(&merged_work, nullptr);
    if (!output) {
        work_file_discard(&merged_work);
        outcome.error = "out of memory";
        return outcome;
    }
    bool merged = merge_like_the_updater(reporter, patch.get(), old, output, outcome);
    stream_close(output);
    patch.reset();
    if (merged) {
        Tree result;
        result.fs.reset(update_open_written_archive(&merged_work));
        if (result.fs) {
            tree_list_archive(result);
            compare_result(reporter, input, result, outcome);
        } else {
            outcome.error = "the merged archive cannot be read back";
        }
    }
    work_file_discard(&merged_work); // the result is closed: its handle may go
    return outcome;
}
