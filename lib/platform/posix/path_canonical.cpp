#include "path_canonical.h"

#include <cstring>

void posix_path_canonicalize(char* path) {
    size_t input_length = std::strlen(path);
    if (input_length == 0) {
        return;
    }
    bool absolute = path[0] == '/';
    bool trailing = path[input_length - 1] == '/';

    // The result never outgrows the input, so it is written over it: out
    // never passes read. kept counts the components a ".." may cancel.
    char* start = absolute ? path + 1 : path;
    char* out = start;
    const char* read = path;
    size_t kept = 0;
    while (*read != '\0') {
        while (*read == '/') {
            ++read;
        }
        const char* end = read;
        while (*end != '\0' && *end != '/') {
            ++end;
        }
        size_t length = static_cast<size_t>(end - read);
        bool dot = length == 1 && read[0] == '.';
        bool dot_dot = length == 2 && read[0] == '.' && read[1] == '.';
        if (length == 0 || dot) {
            // "." names the folder it stands in
        } else if (dot_dot && kept > 0) {
            while (out > start && out[-1] != '/') {
                --out;
            }
            if (out > start) {
                --out;
            }
            --kept;
        } else if (dot_dot && absolute) {
            // nothing lies above the root
        } else {
            if (out > start) {
                *out++ = '/';
            }
            std::memmove(out, read, length);
            out += length;
            if (!dot_dot) {
                ++kept;
            }
        }
        read = end;
    }
    if (out == path) {
        *out++ = '.';
    } else if (trailing && out > start) {
        *out++ = '/';
    }
    *out = '\0';
}
