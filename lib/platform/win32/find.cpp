#include <windows.h>

#include "platform/platform.h"
#include "wide_path.h"

static void find_fill(const WIN32_FIND_DATAW* found, PlatformFindData* data) {
    // A name with no code page 932 form (or too long for the field) is
    // marked; the text put in its place is for reports only, and opening it
    // would reach another file or none.
    data->name_unconvertible =
        !platform_wide_to_cp932(found->cFileName, data->name, sizeof data->name);
    if (data->name_unconvertible) {
        platform_wide_to_cp932_shown(found->cFileName, data->name, sizeof data->name);
    }
    data->size_low = found->nFileSizeLow;
    data->attributes = 0;
    if (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        data->attributes |= PLATFORM_ATTRIBUTE_DIRECTORY;
    }
    if (found->dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        data->attributes |= PLATFORM_ATTRIBUTE_READONLY;
    }
    if (found->dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        data->attributes |= PLATFORM_ATTRIBUTE_SPECIAL;
    }
}

PlatformFind platform_find_first(const char* pattern, PlatformFindData* data) {
    WidePath wide;
    if (!wide_path(&wide, pattern)) {
        return PLATFORM_INVALID_FIND;
    }
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(wide.text, &found);
    if (find == INVALID_HANDLE_VALUE) {
        return PLATFORM_INVALID_FIND;
    }
    find_fill(&found, data);
    return reinterpret_cast<PlatformFind>(find);
}

bool platform_find_next(PlatformFind find, PlatformFindData* data) {
    WIN32_FIND_DATAW found;
    if (!FindNextFileW(reinterpret_cast<HANDLE>(find), &found)) {
        return false;
    }
    find_fill(&found, data);
    return true;
}

void platform_find_close(PlatformFind find) {
    if (find != PLATFORM_INVALID_FIND) {
        FindClose(reinterpret_cast<HANDLE>(find));
    }
}
