#include <cstring>

#include "support/text.h"

namespace {

// Where a path's last component and its extension begin.
struct PathMarks {
    const char* name;      // just after the last separator, or the path itself
    const char* extension; // just after the last "." of the name, or null
};

bool path_is_separator(char c) {
    return c == '/' || c == '\\';
}

// Scans forwards so that the trail byte of a double-byte character (which
// may be 0x5C) is never taken for a separator. A lead byte right before the
// terminator stands alone; the scan never steps past the NUL.
PathMarks path_scan(const char* path) {
    PathMarks marks = {path, nullptr};
    const char* p = path;
    while (*p != '\0') {
        if (text_char_length(p) == 2) {
            p += 2;
            continue;
        }
        if (path_is_separator(*p)) {
            marks.name = p + 1;
            marks.extension = nullptr;
        } else if (*p == '.') {
            marks.extension = p + 1;
        }
        ++p;
    }
    return marks;
}

} // namespace

char* path_file_name(const char* path) {
    return const_cast<char*>(path_scan(path).name);
}

char* path_extension(const char* path) {
    return const_cast<char*>(path_scan(path).extension);
}

char* path_directory(char* destination, const char* path) {
    size_t length = static_cast<size_t>(path_scan(path).name - path);
    // memmove: destination may be the path itself.
    std::memmove(destination, path, length);
    destination[length] = '\0';
    return destination;
}

char* path_change_extension(char* destination, const char* path, const char* extension) {
    size_t length = std::strlen(path);
    std::memmove(destination, path, length + 1);
    const char* dot = path_extension(destination);
    char* end;
    if (dot != nullptr) {
        end = destination + (dot - destination);
    } else {
        end = destination + length;
        *end++ = '.';
    }
    std::strcpy(end, extension);
    return destination;
}
