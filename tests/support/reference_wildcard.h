// The wildcard matching of packing rules and of the listing filter, read
// plainly (a table over every pair of positions: obviously right rather than
// fast), for the tests and the fuzz targets to hold the real matcher against.
#pragma once

#include <string>

// Whether path matches one of the ";"-separated patterns of pattern_list,
// as the Windows shell's own matcher answers: "*" runs over any characters
// ("/" and "." included), "?" is exactly one character, ASCII letters ignore
// case, a double-byte character of code page 932 counts as one and is never
// folded, blanks before a pattern are dropped, the piece after a final ";"
// is never tried, and "*.*" alone matches every path.
bool reference_wildcard_match(const std::string& path, const std::string& pattern_list);
