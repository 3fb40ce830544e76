#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>

#include "attributes.h"
#include "codepage.h"
#include "platform/platform.h"
#include "platform/wildcard.h"

// A folder listing in the manner of FindFirstFileA: the pattern's last
// component selects the entries ("*" takes all), and "." and ".." come
// first, as NTFS lists them, so callers written for Windows skip them alike.
namespace {

struct FindListing {
    DIR* folder;
    int dots_left;    // "." and ".." still to report (2, 1, 0)
    char filter[260]; // the pattern's last component, code page 932
};

} // namespace

static bool find_fill(FindListing* listing, const char* native_name, PlatformFindData* data) {
    struct stat info;
    int folder = dirfd(listing->folder);
    // Follow links as Windows follows its mount points; a dangling link
    // still lists, with its own attributes. An entry gone since readdir
    // is left out.
    if (fstatat(folder, native_name, &info, 0) != 0 &&
        fstatat(folder, native_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    data->name_unconvertible = !codepage_from_utf8(native_name, data->name, sizeof data->name);
    if (data->name_unconvertible) {
        // The raw bytes, for reporting only: opening them would fail, and a
        // lookalike converted name could open another file.
        std::strncpy(data->name, native_name, sizeof data->name - 1);
        data->name[sizeof data->name - 1] = '\0';
    }
    if (std::strcmp(listing->filter, "*") != 0 && !wildcard_match(data->name, listing->filter)) {
        return false;
    }
    data->attributes = posix_attributes(info.st_mode);
    data->size_low = S_ISDIR(info.st_mode) ? 0 : static_cast<uint32_t>(info.st_size);
    return true;
}

// Delivers the next entry that the pattern selects; false at the end.
static bool find_advance(FindListing* listing, PlatformFindData* data) {
    while (listing->dots_left > 0) {
        const char* dots = listing->dots_left == 2 ? "." : "..";
        --listing->dots_left;
        if (find_fill(listing, dots, data)) {
            return true;
        }
    }
    while (const dirent* entry = readdir(listing->folder)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        if (find_fill(listing, entry->d_name, data)) {
            return true;
        }
    }
    return false;
}

PlatformFind platform_find_first(const char* pattern, PlatformFindData* data) {
    if (!pattern || !data) {
        return PLATFORM_INVALID_FIND;
    }
    // "/" is never a trail byte of code page 932, so a bytewise search for
    // the last one is safe.
    const char* slash = std::strrchr(pattern, '/');
    const char* filter = slash ? slash + 1 : pattern;
    size_t filter_length = std::strlen(filter);
    if (filter_length == 0 || filter_length >= sizeof FindListing::filter) {
        return PLATFORM_INVALID_FIND;
    }
    char folder_cp932[CODEPAGE_PATH_MAX];
    if (!slash) {
        std::strcpy(folder_cp932, ".");
    } else {
        size_t length = slash == pattern ? 1 : static_cast<size_t>(slash - pattern);
        if (length >= sizeof folder_cp932) {
            return PLATFORM_INVALID_FIND;
        }
        std::memcpy(folder_cp932, pattern, length);
        folder_cp932[length] = '\0';
    }
    CodepagePath native;
    if (!codepage_path(&native, folder_cp932)) {
        return PLATFORM_INVALID_FIND;
    }

    FindListing* listing = new (std::nothrow) FindListing;
    if (!listing) {
        return PLATFORM_INVALID_FIND;
    }
    listing->folder = opendir(native.text);
    listing->dots_left = 2;
    std::memcpy(listing->filter, filter, filter_length + 1);
    if (!listing->folder || !find_advance(listing, data)) {
        // No entry matches: FindFirstFileA fails rather than list nothing.
        platform_find_close(reinterpret_cast<PlatformFind>(listing));
        return PLATFORM_INVALID_FIND;
    }
    return reinterpret_cast<PlatformFind>(listing);
}

bool platform_find_next(PlatformFind find, PlatformFindData* data) {
    if (find == PLATFORM_INVALID_FIND || !data) {
        return false;
    }
    return find_advance(reinterpret_cast<FindListing*>(find), data);
}

void platform_find_close(PlatformFind find) {
    if (find == PLATFORM_INVALID_FIND) {
        return;
    }
    FindListing* listing = reinterpret_cast<FindListing*>(find);
    if (listing->folder) {
        closedir(listing->folder);
    }
    delete listing;
}
