// Files and folders by code page 932 paths, over the platform layer, so that
// Japanese names work on both builds (test_support.h's whole-file helpers go
// through the C runtime and take ASCII paths only). A file or folder that
// cannot be made throws std::runtime_error, which fails the test.
#pragma once

#include <string>

// Joins with the platform separator; "/" inside name becomes the separator
// too ("/" is never a trail byte in code page 932).
std::string join(const std::string& folder, const std::string& name);

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path); // "<missing>" when it cannot be read
bool path_exists(const std::string& path);
bool is_folder(const std::string& path);
void make_folder(const std::string& path); // an existing folder is fine
// Makes each folder of relative (separated by "/") below root, then writes
// the file at its end.
void write_tree_file(const std::string& root, const std::string& relative,
                     const std::string& bytes);
