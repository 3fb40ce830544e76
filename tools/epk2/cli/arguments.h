// The words of one command line after the command's name.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli/console.h"

// Parsed words of one command: positional arguments and options.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // name (with dashes), value
    bool has(const std::string& name) const;
    std::string value(const std::string& name, const std::string& fallback = "") const;
};

// Converts a command-line path to code page 932; prints an error and returns
// false when it has no such form.
bool argument_to_library(Console& console, const std::string& argument, std::string& path);
