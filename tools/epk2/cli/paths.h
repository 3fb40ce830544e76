// Command-line paths in code page 932: how they end and where they lie.
#pragma once

#include <string>
#include <vector>

// Drops the separators ("/" or "\\") that end a code page 932 path, all but
// a first character ("/" stays "/"). The byte 0x5C that ends "表" (0x95
// 0x5C) is that character's trail byte, not a separator.
void drop_trailing_separators(std::string& path);

// path's place inside folder ("/out.dat", with "/" between components)
// when it lies there, else nothing: a pack or diff output inside the folder
// it reads must not be read as data.
std::vector<std::string> path_inside(const std::string& folder, const std::string& path);
