#include <windows.h>

#include <cstring>

#include "platform/platform.h"

static void find_fill(const WIN32_FIND_DATAA* found, PlatformFindData* data) {
    std::memcpy(data->name, found->cFileName, sizeof data->name);
    data->name[sizeof data->name - 1] = '\0';
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
    data->name_unconvertible = false;
}

PlatformFind platform_find_first(const char* pattern, PlatformFindData* data) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) {
        return PLATFORM_INVALID_FIND;
    }
    find_fill(&found, data);
    return reinterpret_cast<PlatformFind>(find);
}

bool platform_find_next(PlatformFind find, PlatformFindData* data) {
    WIN32_FIND_DATAA found;
    if (!FindNextFileA(reinterpret_cast<HANDLE>(find), &found)) {
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
