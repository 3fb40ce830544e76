// What a command declares about itself, and the one place that reads a
// command line against it: unknown options, missing values and the number
// of arguments are refused here, before any command runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/console.h"

// What a command cannot run without. A command line that lacks it is told
// "NAME: give ... (see epk2 NAME --help)" with the words below.
struct ArgumentNeeds {
    size_t least = 0;                  // positional arguments, at least
    size_t most = SIZE_MAX;            // and at most
    const char* give = "";             // what a wrong count (or a missing option) is told
    const char* option = nullptr;      // an option that must be given, or null
    const char* unless = nullptr;      // a flag that makes the option unnecessary
    const char* give_option = nullptr; // the missing option's own words, told
                                       // before the count is looked at; null:
                                       // it is told with the count's words
};

// A command as its own file defines it.
struct CommandDefinition {
    const char* help;                // text shown by "epk2 NAME --help"
    std::vector<std::string> flags;  // options without a value
    std::vector<std::string> valued; // options that take a value
    ArgumentNeeds needs;
    int (*run)(const Arguments& args, Console& console);
};

// One row of the tool's table of commands.
struct Command {
    const char* name;
    const char* summary; // one line of "epk2 --help"
    const CommandDefinition& definition;
};

// The tool as "epk2 --help" shows it: the commands, in the order listed,
// between a head and a tail of text.
struct ToolDefinition {
    const char* help_head;
    const char* help_tail;
    const char* version; // "epk2 --version"
    std::span<const Command> commands;
};

// Runs the command named by argv[1] (command-line text in the terminal's
// encoding) and gives its exit status.
int cli_run(const ToolDefinition& tool, int argc, char** argv, Console& console);
