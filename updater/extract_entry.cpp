#include <vector>

#include "archive/archive_fs.h"
#include "fs/filesystem.h"
#include "loose_names.h"
#include "platform/platform.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "support/text.h"
#include "update_logic.h"
#include "update_paths.h"

namespace {

constexpr uint32_t COPY_BLOCK = 32768;

struct StreamCloser {
    Stream* stream;
    ~StreamCloser() {
        if (stream) {
            stream_close(stream);
        }
    }
};

// Copies the entry into target; false with why when the entry cannot be read
// completely or the target does not take every byte.
bool copy_entry(FileSystem* fs, const DirEntry& entry, Stream* target, std::string& why) {
    Stream* source = fs_open(fs, entry.name, 0, 0, STREAM_OPEN_READ, nullptr);
    if (!source) {
        why = "cannot open the entry";
        return false;
    }
    StreamCloser source_closer{source};
    std::vector<unsigned char> block(COPY_BLOCK);
    uint32_t total = 0;
    while (stream_state(source) != STREAM_STATE_END) {
        uint32_t n = stream_read(source, block.data(), COPY_BLOCK);
        if (n == 0) {
            break;
        }
        if (stream_write(target, block.data(), n) != n) {
            why = "cannot write the file (disk full?)";
            return false;
        }
        total += n;
    }
    // A damaged entry ends early or fails its checksum; either way the file
    // would be incomplete.
    ArchiveEntryInfo info{};
    bool compressed = archive_entry_info(fs, entry.name, &info) && info.stored_size != info.size;
    if (total != entry.size || (compressed && !entry_stream_intact(source))) {
        why = "the entry's data are damaged";
        return false;
    }
    return true;
}

// Writes the entry to the partial file beside target and moves it over
// target once it is complete, so that a failure leaves the old file in
// place. A link at target is replaced, never written through.
bool write_loose_file(ExtractionContext& context, FileSystem* fs, const DirEntry& entry,
                      const char* target, std::string& why) {
    WorkFile work;
    if (!work_file_create(&work, target, context.partial_path)) {
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
    bool copied = copy_entry(fs, entry, out, why);
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

} // namespace

int extract_entry(void* context_pointer, FileSystem* fs, DirEntry* entry) {
    auto& context = *static_cast<ExtractionContext*>(context_pointer);
    if ((entry->attributes & DIRENTRY_DIRECTORY) || !context.failed.empty()) {
        return 1;
    }
    // Sub-folders are not recreated: every file lands in the extraction
    // folder under its last name component.
    const char* name = path_file_name(entry->name);
    std::string why;
    char target[UPDATE_PATH_SIZE];
    if (!loose_name_allowed(name, why)) {
        // refused by name
    } else if (!platform_path_combine(target, context.folder, name)) {
        why = "the path is too long";
    } else if (write_loose_file(context, fs, *entry, target, why)) {
        ++context.written;
        return 1;
    }
    context.failed.push_back(std::string(entry->name) + ": " + why);
    return 1;
}
