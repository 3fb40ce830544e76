// The one rule for where a code page 932 character ends. A double-byte
// character's trail byte may be 0x5C (a backslash) or fall in the ASCII
// letters, so every routine that looks for a separator, folds case or cuts a
// name steps over whole characters by this rule and no copy of it.
#pragma once

// True for a lead byte of a double-byte character.
inline bool cp932_is_lead_byte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// True for a byte that can follow a lead byte in a double-byte character.
inline bool cp932_is_trail_byte(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// Bytes of the character at text: 2 for a lead byte followed by a trail
// byte, else 1. A lead byte before anything else (a "/", a control byte, the
// NUL) is a character of its own, so the byte after it keeps its meaning and
// a scan never steps past the end.
inline int cp932_char_length(const char* text) {
    return cp932_is_lead_byte(static_cast<unsigned char>(text[0])) &&
                   cp932_is_trail_byte(static_cast<unsigned char>(text[1]))
               ? 2
               : 1;
}
