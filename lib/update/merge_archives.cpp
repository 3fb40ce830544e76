#include <new>

#include "archive/archive_fs.h"
#include "platform/platform.h"
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "update/update_logic.h"

BuilderOptions update_merge_options(FILE* log) {
    BuilderOptions options;
    options.log = log;
    // Deflate on every core; the callback still runs on this thread.
    options.threads = 0;
    // The installed data are carried over as they lie: checking them would
    // cost a full inflate, and damage already there stays as it was.
    options.check_second_source_copies = false;
    return options;
}

FileSystem* update_open_written_archive(WorkFile* work) {
    SharedFile* file = shared_file_adopt(work->file, false, nullptr);
    FileSystem* fs = file ? archive_open_shared(file, work->path, nullptr) : nullptr;
    shared_file_release(file);
    return fs;
}

bool merge_archives_into(Stream* output, FileSystem* patch, const char* data_path, void* context,
                         ProgressCallback callback, FILE* log, std::string* error) {
    // Either archive may be missing; without the patch the builder refuses.
    // From here on the data are read only through the handle opened now.
    FileSystem* data = archive_open(nullptr, data_path, nullptr);
    bool merged = false;
    std::string why;
    try {
        ArchiveBuilder builder;
        builder.options = update_merge_options(log);
        merged = builder.pack_into(output, patch, data, context, callback);
        why = builder.error();
    } catch (const std::bad_alloc&) {
        // The builder keeps its tree in memory; running out ends the merge,
        // not the updater.
        why = "out of memory";
    }
    if (!merged && error) {
        *error = why;
    }
    if (data) {
        fs_close(data);
    }
    return merged;
}

bool merge_archives_into(Stream* output, const char* patch_path, const char* data_path,
                         void* context, ProgressCallback callback, FILE* log, std::string* error) {
    // Opened once, here, and read only through this handle until the merge
    // ends.
    FileSystem* patch = archive_open(nullptr, patch_path, nullptr);
    bool merged = merge_archives_into(output, patch, data_path, context, callback, log, error);
    if (patch) {
        fs_close(patch);
    }
    return merged;
}

bool merge_archives(const char* output_path, const char* patch_path, const char* data_path,
                    void* context, ProgressCallback callback, FILE* log, std::string* error) {
    WorkFile work;
    Stream* output = nullptr;
    if (!work_file_create(&work, output_path) || !(output = work_file_stream(&work, nullptr))) {
        work_file_discard(&work);
        platform_file_delete(output_path);
        if (error) {
            *error = std::string("cannot create a file beside ") + output_path;
        }
        return false;
    }
    bool merged = merge_archives_into(output, patch_path, data_path, context, callback, log, error);
    stream_close(output);
    if (merged && !work_file_commit(&work)) {
        merged = false;
        if (error) {
            *error = std::string("cannot move the merged archive to ") + output_path;
        }
    }
    if (!merged) {
        work_file_discard(&work);
        // Whatever stopped the merge (even a missing patch, or memory running
        // out half-way), no older or partial output may pass for its result.
        platform_file_delete(output_path);
    }
    return merged;
}
