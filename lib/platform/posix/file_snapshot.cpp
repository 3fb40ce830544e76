#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

// Writers of a file cannot be refused here, and a file can be rewritten in
// place between any two reads of it. The snapshot is therefore a copy that
// only this process can reach: whatever happens to the file afterwards, the
// copy keeps the bytes it was checked against.

namespace {

// Anonymous memory, sealed once filled, so not even a descriptor that
// leaked could change it; else an unlinked temporary file that can never be
// given a name (O_EXCL).
int private_file() {
#ifdef MFD_ALLOW_SEALING
    int fd = memfd_create("snapshot", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd >= 0) {
        return fd;
    }
#endif
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) {
        folder = "/tmp";
    }
    return open(folder, O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
}

bool same_size(int fd, off_t size) {
    struct stat info;
    return fstat(fd, &info) == 0 && info.st_size == size;
}

} // namespace

PlatformFile platform_file_snapshot(const char* path) {
    PlatformFile source = platform_file_open(path, PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    if (source == PLATFORM_INVALID_FILE) {
        return PLATFORM_INVALID_FILE;
    }
    struct stat info;
    if (fstat(static_cast<int>(source), &info) != 0) {
        int why = errno;
        platform_file_close(source);
        errno = why;
        return PLATFORM_INVALID_FILE;
    }
    if (static_cast<uint64_t>(info.st_size) > UINT32_MAX) {
        platform_file_close(source);
        errno = EFBIG;
        return PLATFORM_INVALID_FILE;
    }
    const uint32_t size = static_cast<uint32_t>(info.st_size);
    int copy = private_file();
    if (copy < 0) {
        int why = errno;
        platform_file_close(source);
        errno = why;
        return PLATFORM_INVALID_FILE;
    }
    errno = 0;
    bool whole = platform_file_copy(source, 0, copy, 0, size) == size &&
                 same_size(static_cast<int>(source), info.st_size) && same_size(copy, info.st_size);
    int why = errno;
    platform_file_close(source);
    if (!whole) {
        close(copy);
        // A file that grew or shrank meanwhile was being written: its copy
        // would mix two versions.
        errno = why ? why : EAGAIN;
        return PLATFORM_INVALID_FILE;
    }
#ifdef F_ADD_SEALS
    // Fails harmlessly on the temporary file, which takes no seals.
    fcntl(copy, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
#endif
    return copy;
}

bool platform_file_snapshot_is_original() {
    return false;
}
