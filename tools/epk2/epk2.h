// The tool as a whole, for the program's entry and for the tests that run
// it as the command line does.
#pragma once

#include <span>

#include "cli/cli.h"

// Every command, in the order "epk2 --help" lists them.
std::span<const Command> epk2_commands();

// Runs the tool with argv (command-line text in the terminal's encoding).
int epk2_main(int argc, char** argv, Console& console);
