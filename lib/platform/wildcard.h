// MS-DOS wildcard matching with the answers of the shell's PathMatchSpecA,
// plain code that both builds share, so that a pattern selects the same
// names on each.
#pragma once

// True when path matches patterns: one or more patterns separated by ";",
// each with its leading blanks ignored; the path matches when any pattern
// does. In a pattern "*" matches any run of characters ("/" and "."
// included) and "?" exactly one; ASCII letters match regardless of case.
// The patterns "*.*" alone match every path; empty patterns match nothing.
// Both texts are code page 932: a double-byte character counts as one
// character and its trail byte is never folded or taken as a wildcard or
// separator.
bool wildcard_match(const char* path, const char* patterns);

// One pattern without the list's rules: it ends at ";" or the NUL, and
// neither its leading blanks nor "*.*" are treated specially. Costs at most
// path length times pattern length.
bool wildcard_match_single(const char* path, const char* pattern);

// The length in bytes of the character at text (NUL-terminated): 2 for a
// code page 932 lead byte followed by a trail byte, else 1.
int wildcard_char_length(const char* text);
