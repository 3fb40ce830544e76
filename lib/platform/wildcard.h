// MS-DOS wildcard matching with the answers of the shell's PathMatchSpecA,
// for builds that lack it.
#pragma once

// True when path matches spec. spec holds one or more patterns separated by
// ";", each with its leading blanks ignored; the path matches when any
// pattern does. In a pattern "*" matches any run of characters ("/" and "."
// included) and "?" exactly one; ASCII letters match regardless of case. The
// spec "*.*" matches every path; an empty spec matches nothing. Both texts
// are code page 932: a double-byte character counts as one character and its
// trail byte is never folded or taken as a wildcard or separator.
bool wildcard_match(const char* path, const char* spec);
