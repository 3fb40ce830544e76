#include <vector>

#include "archive/archive_fs.h"
#include "archive/entry_read.h"
#include "fs/filesystem.h"
#include "platform/platform.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "support/messages.h"
#include "support/text.h"
#include "update/loose_names.h"
#include "update/update_logic.h"
#include "update/update_paths.h"

namespace {

constexpr uint32_t COPY_BLOCK = 32768;

// Copies the record's content into target; false with why when the entry
// cannot be read completely or the target does not take every byte.
bool copy_entry(FileSystem* fs, const ArchiveEntryInfo& info, Stream* target, std::string& why) {
    std::vector<unsigned char> block(COPY_BLOCK);
    EntryReadResult result = archive_read_entry(
        fs, info,
        [&](const unsigned char* data, uint32_t n) { return stream_write(target, data, n) == n; },
        block.data(), COPY_BLOCK);
    if (result.sink_failed) {
        why = "cannot write the file (disk full?)";
    } else if (!result.opened) {
        why = "cannot open the entry";
    } else if (!result.problem.empty()) {
        // A damaged entry ends early or fails its checksum; either way the
        // file would be incomplete.
        why = "the entry's data are damaged";
    }
    return result.whole();
}

// The extraction folder, opened at the first loose file; null with why
// when it cannot be opened.
bool hold_folder(ExtractionContext& context, std::string& why) {
    if (context.held.handle == PLATFORM_INVALID_FOLDER) {
        context.held.handle = platform_folder_open(context.folder);
    }
    if (context.held.handle == PLATFORM_INVALID_FOLDER) {
        why = "cannot open the install folder";
        return false;
    }
    return true;
}

// Writes the entry to the partial file beside its destination, name in the
// held extraction folder, and moves it over the destination once it is
// complete, so that a failure leaves the old file in place. A link at the
// destination is replaced, never written through.
bool write_loose_file(ExtractionContext& context, FileSystem* fs, const ArchiveEntryInfo& info,
                      const char* name, std::string& why) {
    if (!hold_folder(context, why)) {
        return false;
    }
    WorkFile work;
    if (!work_file_create_in(&work, context.held.handle, context.folder, name,
                             path_file_name(context.partial_path))) {
        why = "cannot create the file";
        return false;
    }
    const UpdateSteps& steps = *context.steps;
    Stream* out = steps.create_file(&work);
    if (!out) {
        work_file_discard(&work);
        why = "cannot create the file";
        return false;
    }
    bool copied = copy_entry(fs, info, out, why);
    stream_close(out);
    if (copied && !steps.sync_file(&work)) {
        why = "cannot flush the file to disk";
        copied = false;
    }
    if (copied && !steps.replace_file(&work)) {
        why = "cannot replace the file";
        copied = false;
    }
    work_file_discard(&work); // nothing left to do after a replacement
    return copied;
}

// Writes one file of "/_extract" (its record in info) to the extraction
// folder.
void extract_file(ExtractionContext& context, FileSystem* fs, const char* entry_name,
                  const ArchiveEntryInfo* info) {
    if (!context.failed.empty()) {
        return;
    }
    if (archive_path_has_empty_name(entry_name)) {
        // Its stored name was lost by the archive's writer: there is no name
        // to give the file, and no path would find it in the archive.
        report_warning("%s: a loose file with an empty name is skipped", entry_name);
        return;
    }
    // Sub-folders are not recreated: every file lands in the extraction
    // folder under its last name component.
    const char* name = path_file_name(entry_name);
    std::string why;
    char target[UPDATE_PATH_SIZE];
    if (!info) {
        why = "cannot open the entry";
    } else if (!loose_name_allowed(name, why)) {
        // refused by name
    } else if (!platform_path_combine(target, context.folder, name)) {
        why = "the path is too long";
    } else if (write_loose_file(context, fs, *info, name, why)) {
        ++context.written;
        return;
    }
    context.failed.push_back(std::string(entry_name) + ": " + why);
}

} // namespace

void extract_record(void* context_pointer, const DirEntry* entry, const ArchiveEntryInfo* info) {
    if (!info) {
        return; // a directory
    }
    auto& context = *static_cast<ExtractionContext*>(context_pointer);
    extract_file(context, context.archive, entry->name, info);
}
