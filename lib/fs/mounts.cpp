#include "fs/disk_fs.h"
#include "fs/filesystem.h"
#include "stream/stream.h"

// Process-wide and unlocked: the table is set up and used from the one
// user-interface thread.
static FileSystem* mount_slots[MOUNT_SLOTS];
static int mount_references;
// What fs_init created for slots 0 and 1. Shutdown closes these, not
// whatever the application may have put into those slots since, so that a
// file system is only ever closed by its creator.
static FileSystem* mount_owned[2];

static void mount_create(int index, const char* folder, Allocator* allocator) {
    FileSystem* fs = disk_fs_create(nullptr, folder, allocator);
    if (fs) {
        mount_owned[index] = fs;
        mount_slots[index] = fs;
    }
}

static void mount_release(int index) {
    FileSystem* fs = mount_owned[index];
    mount_owned[index] = nullptr;
    mount_slots[index] = nullptr;
    if (fs) {
        fs_close(fs);
    }
}

void fs_init(Allocator* allocator) {
    if (++mount_references != 1) {
        return;
    }
    // A folder that cannot be determined leaves its slot empty; fs_open_mount
    // then falls back to plain disk paths.
    char folder[FS_PATH_SIZE];
    if (disk_current_dir(folder, sizeof folder)) {
        mount_create(MOUNT_CURRENT_DIR, folder, allocator);
    }
    if (disk_app_data_dir(folder)) {
        mount_create(MOUNT_APP_DATA, folder, allocator);
    }
}

void fs_shutdown() {
    // An unmatched shutdown must not push the count below zero, or the next
    // fs_init would never create the slots.
    if (mount_references == 0) {
        return;
    }
    if (--mount_references != 0) {
        return;
    }
    mount_release(MOUNT_APP_DATA);
    mount_release(MOUNT_CURRENT_DIR);
}

int fs_set_mount(int index, FileSystem* fs) {
    if (index >= 0 && index < MOUNT_SLOTS) {
        mount_slots[index] = fs;
    }
    return index;
}

FileSystem* fs_get_mount(int index) {
    if (index < 0 || index >= MOUNT_SLOTS) {
        return nullptr;
    }
    return mount_slots[index];
}

Stream* fs_open_mount(int index, const char* path, uint32_t offset, uint32_t length, uint32_t flags,
                      Allocator* allocator) {
    // fs_open with no file system is the plain disk path.
    return fs_open(fs_get_mount(index), path, offset, length, flags, allocator);
}

Stream* fs_open_mount_whole(int index, const char* path, uint32_t flags, Allocator* allocator) {
    return fs_open_mount(index, path, 0, 0, flags, allocator);
}
