// Runs the archive builder for pack and merge: writes beside the output and
// moves the finished archive into place, shows progress, reports failures.
#pragma once

#include <string>

#include "cli.h"

struct FileSystem;

int run_builder(Console& console, const Arguments& args, const std::string& output_display,
                const std::string& output_path, FileSystem* first, FileSystem* second,
                const char* label);
