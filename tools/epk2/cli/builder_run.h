// Runs the archive builder for pack and merge: writes beside the output and
// moves the finished archive into place, shows progress, reports failures.
#pragma once

#include <string>

#include "cli/archive_open.h"
#include "cli/arguments.h"
#include "cli/console.h"

// The sources are closed before the new archive moves into place: on
// Windows an open source could not be replaced by it.
int run_builder(Console& console, const Arguments& args, const std::string& output_display,
                const std::string& output_path, FileSystemPtr first, FileSystemPtr second,
                const char* label);
