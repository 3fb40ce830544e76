#include "stream/work_file.h"

#include <cstdio>
#include <cstring>

#include "stream/file_handles.h"
#include "stream/stream.h"

namespace {

// Tries this many fresh names before giving up; a clash is rare, and many
// in a row mean the folder is being filled on purpose.
constexpr int WORK_FILE_TRIES = 64;

// from into the buffer to of size bytes; false when it does not fit.
bool copy_bounded(char* to, const char* from, size_t size) {
    size_t length = std::strlen(from);
    if (length >= size) {
        return false;
    }
    std::memcpy(to, from, length + 1);
    return true;
}

// Not for secrecy, only to make clashes rare: creation is exclusive anyway.
uint32_t work_file_suffix(int attempt) {
    uint64_t mix = static_cast<uint64_t>(platform_performance_counter()) ^
                   (uint64_t(platform_thread_current_id()) << 20) ^
                   (uint64_t(attempt) * 0x9E3779B97F4A7C15ull);
    mix ^= mix >> 29;
    mix *= 0xBF58476D1CE4E5B9ull;
    mix ^= mix >> 32;
    return static_cast<uint32_t>(mix % 1000000);
}

// Writes "base.partial-NNNNNN" into to (size bytes) for the given attempt;
// false when it does not fit.
bool fresh_name(char* to, size_t size, const char* base, int attempt) {
    int written = std::snprintf(to, size, "%s.partial-%06u", base,
                                static_cast<unsigned>(work_file_suffix(attempt)));
    return written >= 0 && static_cast<size_t>(written) < size;
}

// Tries fresh names until a file can be made under one: name(attempt) puts
// the attempt's name in place (false: it cannot be had), create() makes the
// file, taken() tells whether the name was in use, the one failure worth
// another try. The reason the first creation failed is the one worth
// telling.
template <typename Name, typename Create, typename Taken>
bool create_under_fresh_name(Name name, Create create, Taken taken) {
    int first_error = 0;
    for (int attempt = 0; attempt < WORK_FILE_TRIES; ++attempt) {
        if (!name(attempt)) {
            return false;
        }
        if (create()) {
            return true;
        }
        int error = platform_error_code();
        first_error = attempt == 0 ? error : first_error;
        if (!taken()) {
            platform_error_restore(error);
            return false;
        }
    }
    platform_error_restore(first_error);
    return false;
}

// folder + separator + name into to; false when it does not fit.
bool join_shown(char* to, const char* folder, const char* name) {
    size_t length = std::strlen(folder);
    bool separated = length == 0 || folder[length - 1] == '/' || folder[length - 1] == '\\';
    const char separator[2] = {separated ? '\0' : platform_separator(), '\0'};
    int written = std::snprintf(to, WORK_FILE_PATH_SIZE, "%s%s%s", folder, separator, name);
    return written >= 0 && static_cast<size_t>(written) < WORK_FILE_PATH_SIZE;
}

void work_file_forget(WorkFile* work) {
    platform_interrupt_cleanup_remove(work->cleanup_slot);
    work->cleanup_slot = -1;
}

} // namespace

bool work_file_create(WorkFile* work, const char* destination, const char* work_path) {
    work->file = PLATFORM_INVALID_FILE;
    work->cleanup_slot = -1;
    work->path[0] = '\0';
    work->folder = PLATFORM_INVALID_FOLDER;
    if (!destination || !copy_bounded(work->destination, destination, sizeof work->destination)) {
        return false;
    }
    if (work_path) {
        if (!copy_bounded(work->path, work_path, sizeof work->path) ||
            !platform_path_clear(work->path)) {
            return false;
        }
        work->file = platform_file_create_new(work->path, &work->cleanup_slot);
        return work->file != PLATFORM_INVALID_FILE;
    }
    return create_under_fresh_name(
        [&](int attempt) {
            return fresh_name(work->path, sizeof work->path, destination, attempt);
        },
        [&] {
            work->file = platform_file_create_new(work->path, &work->cleanup_slot);
            return work->file != PLATFORM_INVALID_FILE;
        },
        [&] { return platform_path_is_link(work->path) || platform_file_exists(work->path); });
}

void (*work_file_test_hook)(WorkFileHookPoint point, const char* name) = nullptr;

PlatformFolder work_folder_step(PlatformFolder parent, const char* name, bool create) {
    if (create && !platform_folder_make(parent, name)) {
        return PLATFORM_INVALID_FOLDER;
    }
    if (work_file_test_hook) {
        work_file_test_hook(WORK_HOOK_FOLDER_MADE, name);
    }
    return platform_folder_open_child(parent, name);
}

bool work_file_create_in(WorkFile* work, PlatformFolder folder, const char* shown_folder,
                         const char* name, const char* work_name) {
    work->file = PLATFORM_INVALID_FILE;
    work->cleanup_slot = -1;
    work->path[0] = '\0';
    work->folder = folder;
    work->work_name[0] = '\0';
    if (folder == PLATFORM_INVALID_FOLDER || !name ||
        !copy_bounded(work->name, name, sizeof work->name) ||
        !join_shown(work->destination, shown_folder, name)) {
        return false;
    }
    auto create = [&]() {
        if (work_file_test_hook) {
            work_file_test_hook(WORK_HOOK_FILE_CREATING, work->work_name);
        }
        work->file = platform_folder_create_file(folder, work->work_name, &work->cleanup_slot);
        return work->file != PLATFORM_INVALID_FILE;
    };
    if (work_name) {
        if (!copy_bounded(work->work_name, work_name, sizeof work->work_name) ||
            !join_shown(work->path, shown_folder, work_name) ||
            !platform_folder_clear(folder, work->work_name)) {
            return false;
        }
        return create();
    }
    return create_under_fresh_name(
        [&](int attempt) {
            return fresh_name(work->work_name, sizeof work->work_name, name, attempt) &&
                   join_shown(work->path, shown_folder, work->work_name);
        },
        create, [&] { return platform_folder_has(folder, work->work_name); });
}

Stream* work_file_stream(WorkFile* work, Allocator* allocator) {
    return stream_open_handle(work->file, STREAM_OPEN_READ | STREAM_OPEN_WRITE, allocator);
}

bool work_file_sync(WorkFile* work) {
    return work->file != PLATFORM_INVALID_FILE && platform_file_sync(work->file);
}

bool work_file_commit(WorkFile* work) {
    if (work->file == PLATFORM_INVALID_FILE) {
        return false;
    }
    // A file that replaces another is on the device before it takes the
    // other's name, so a crash leaves the old or the new one, never an empty
    // one. A new name replaces nothing and is only renamed. Someone who can
    // write the folder may have put another file under the work file's
    // name; that one is not moved into place.
    bool held = work->folder != PLATFORM_INVALID_FOLDER;
    bool replacing =
        held ? platform_folder_has(work->folder, work->name)
             : platform_file_exists(work->destination) || platform_path_is_link(work->destination);
    bool still_ours = held ? platform_folder_file_is(work->file, work->folder, work->work_name)
                           : platform_file_is(work->file, work->path);
    if ((replacing && !work_file_sync(work)) || !still_ours) {
        work_file_discard(work);
        return false;
    }
    bool moved = held ? platform_folder_commit(work->file, work->folder, work->work_name,
                                               work->name, work->cleanup_slot, replacing)
                      : platform_file_commit(work->file, work->path, work->destination,
                                             work->cleanup_slot, replacing);
    work->file = PLATFORM_INVALID_FILE;
    work->cleanup_slot = -1;
    return moved;
}

void work_file_discard(WorkFile* work) {
    if (work->file == PLATFORM_INVALID_FILE) {
        return;
    }
    work_file_forget(work);
    if (work->folder != PLATFORM_INVALID_FOLDER) {
        platform_folder_discard(work->file, work->folder, work->work_name);
    } else {
        platform_file_discard(work->file, work->path);
    }
    work->file = PLATFORM_INVALID_FILE;
}
