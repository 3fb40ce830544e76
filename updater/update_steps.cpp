#include "fs/filesystem.h"
#include "platform/platform.h"
#include "stream/stream.h"
#include "update_logic.h"

bool update_sync_file(const char* path) {
    // FlushFileBuffers needs write access; nothing is truncated.
    PlatformFile file = platform_file_open(path, PLATFORM_ACCESS_WRITE, PLATFORM_OPEN_EXISTING);
    if (file == PLATFORM_INVALID_FILE) {
        return false;
    }
    bool synced = platform_file_sync(file);
    platform_file_close(file);
    return synced;
}

Stream* update_create_file(const char* path) {
    return fs_open(nullptr, path, 0, 0, STREAM_OPEN_WRITE, nullptr);
}

UpdateSteps default_update_steps() {
    return UpdateSteps{update_sync_file, platform_file_replace, update_create_file, stdout};
}
