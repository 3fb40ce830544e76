// The epk2 command line: commands, their options and their exit statuses.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit statuses shared by every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_DAMAGED = 1; // an archive is damaged, or the update was refused
constexpr int EXIT_USAGE = 2;   // bad command line, or an input/output error

// Where a command writes. Tests hand in temporary files; main() the
// standard streams.
struct Console {
    FILE* out;
    FILE* err;
    bool err_is_terminal; // progress bars only on a terminal
};

// Parsed words of one command: positional arguments and options.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // name (with dashes), value
    bool has(const std::string& name) const;
    std::string value(const std::string& name, const std::string& fallback = "") const;
};

struct CommandSpec {
    const char* name;
    const char* summary;
    const char* usage;               // text shown by "epk2 NAME --help"
    std::vector<std::string> flags;  // options without a value
    std::vector<std::string> valued; // options that take a value
    int (*run)(const Arguments& args, Console& console);
};

const std::vector<CommandSpec>& epk2_commands();

// Runs the tool with argv (command-line text in the terminal's encoding).
int epk2_main(int argc, char** argv, Console& console);

// Command entry points.
int command_list(const Arguments& args, Console& console);
int command_extract(const Arguments& args, Console& console);
int command_cat(const Arguments& args, Console& console);
int command_verify(const Arguments& args, Console& console);
int command_info(const Arguments& args, Console& console);
int command_pack(const Arguments& args, Console& console);
int command_merge(const Arguments& args, Console& console);
int command_diff(const Arguments& args, Console& console);
int command_update(const Arguments& args, Console& console);
int command_keygen(const Arguments& args, Console& console);
int command_sign(const Arguments& args, Console& console);
