#include "platform/wildcard.h"

#include <cstring>

#include "platform/cp932_char.h"

// Patterns and paths step over whole characters, so a trail byte among the
// ASCII letters is never folded on its own and "?" takes the whole character.
int wildcard_char_length(const char* text) {
    return cp932_char_length(text);
}

static char wildcard_fold(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// Compares the characters at a (from the path) and b (from the pattern).
static bool wildcard_same_char(const char* a, int a_length, const char* b, int b_length) {
    if (a_length != b_length) {
        return false;
    }
    if (a_length == 2) {
        return a[0] == b[0] && a[1] == b[1];
    }
    return wildcard_fold(a[0]) == wildcard_fold(b[0]);
}

static bool wildcard_pattern_end(const char* pattern) {
    return *pattern == '\0' || *pattern == ';';
}

// Matches the whole path against one pattern, which ends at ";" or the NUL.
// Only the most recent "*" is ever revisited: moving an earlier star's
// match can never help once a later star has matched, so the work stays at
// path length times pattern length however many stars there are.
bool wildcard_match_single(const char* path, const char* pattern) {
    const char* star = nullptr;      // the pattern just after the last "*"
    const char* star_path = nullptr; // where that star's run currently ends
    while (*path != '\0') {
        int path_length = wildcard_char_length(path);
        if (!wildcard_pattern_end(pattern)) {
            if (*pattern == '*') {
                star = ++pattern;
                star_path = path;
                continue;
            }
            int pattern_length = wildcard_char_length(pattern);
            if (*pattern == '?' || wildcard_same_char(path, path_length, pattern, pattern_length)) {
                path += path_length;
                pattern += pattern_length;
                continue;
            }
        }
        if (!star) {
            return false;
        }
        // Let the last star take one more character and retry after it.
        star_path += wildcard_char_length(star_path);
        path = star_path;
        pattern = star;
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return wildcard_pattern_end(pattern);
}

bool wildcard_match(const char* path, const char* patterns) {
    if (!path || !patterns) {
        return false;
    }
    if (std::strcmp(patterns, "*.*") == 0) {
        return true; // the MS-DOS "every file", also for names without a "."
    }
    while (*patterns != '\0') {
        while (*patterns == ' ') {
            ++patterns;
        }
        if (wildcard_match_single(path, patterns)) {
            return true;
        }
        while (!wildcard_pattern_end(patterns)) {
            patterns += wildcard_char_length(patterns);
        }
        if (*patterns == ';') {
            ++patterns;
        }
    }
    return false;
}
