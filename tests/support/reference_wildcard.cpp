#include "support/reference_wildcard.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace {

// The text cut into characters: a code page 932 lead byte and a trail byte
// after it form one; a lead byte before any other byte stands alone. A
// single-byte character is its byte with ASCII letters folded to capitals; a
// double-byte one is marked by a bit above the byte range and never folded.
// The byte ranges are written out here rather than taken from the library,
// so that a fault there cannot hide in both answers.
using Characters = std::vector<uint32_t>;
constexpr uint32_t DOUBLE_BYTE = 0x10000;

Characters characters(const std::string& text) {
    Characters out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        bool trail = (next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC);
        if (lead && trail) {
            out.push_back(DOUBLE_BYTE | c << 8 | next);
            i += 2;
        } else {
            out.push_back(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            i += 1;
        }
    }
    return out;
}

// Whole-path match of one pattern, by a table over (path position, pattern
// position), computed from the ends: time path times pattern, never more.
bool match_one(const Characters& path, const Characters& pattern) {
    size_t n = path.size(), m = pattern.size();
    std::vector<char> next(m + 1), current(m + 1);
    // The row for the path's end: only trailing stars match nothing.
    next[m] = 1;
    for (size_t j = m; j-- > 0;) {
        next[j] = pattern[j] == '*' && next[j + 1];
    }
    for (size_t i = n; i-- > 0;) {
        current[m] = 0;
        for (size_t j = m; j-- > 0;) {
            if (pattern[j] == '*') {
                current[j] = current[j + 1] || next[j];
            } else {
                current[j] = (pattern[j] == '?' || pattern[j] == path[i]) && next[j + 1];
            }
        }
        std::swap(current, next);
    }
    return next[0];
}

} // namespace

bool reference_wildcard_match(const std::string& path, const std::string& pattern_list) {
    if (pattern_list == "*.*") {
        return true;
    }
    std::vector<Characters> patterns(1);
    for (uint32_t c : characters(pattern_list)) {
        if (c == ';') {
            patterns.emplace_back();
        } else {
            patterns.back().push_back(c);
        }
    }
    if (patterns.back().empty()) {
        patterns.pop_back();
    }
    Characters name = characters(path);
    for (Characters& pattern : patterns) {
        size_t blanks = 0;
        while (blanks < pattern.size() && pattern[blanks] == ' ') {
            ++blanks;
        }
        pattern.erase(pattern.begin(), pattern.begin() + long(blanks));
        if (match_one(name, pattern)) {
            return true;
        }
    }
    return false;
}
