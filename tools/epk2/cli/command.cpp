#include "cli.h"

#include <algorithm>
#include <cstring>

#include "tool_support.h"

bool Arguments::has(const std::string& name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const auto& option) { return option.first == name; });
}

std::string Arguments::value(const std::string& name, const std::string& fallback) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it) {
        if (it->first == name) {
            return it->second;
        }
    }
    return fallback;
}

namespace {

const char* const TOOL_HELP =
    "epk2 - make, inspect and update EPK2 game-data archives\n"
    "\n"
    "Usage: epk2 COMMAND [OPTIONS] ARGUMENTS...\n"
    "       epk2 COMMAND --help     (what a command does, with examples)\n"
    "\n"
    "Commands:\n";

const char* const TOOL_HELP_TAIL =
    "\n"
    "Exit status: 0 success; 1 an archive is damaged (or an update was refused);\n"
    "2 a usage or input/output error.\n"
    "\n"
    "Names inside archives are Shift_JIS (code page 932); on Linux they are shown\n"
    "and given in UTF-8 and converted on the way.\n";

void print_tool_help(FILE* out) {
    std::fputs(TOOL_HELP, out);
    for (const CommandSpec& command : epk2_commands()) {
        std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
    }
    std::fputs(TOOL_HELP_TAIL, out);
}

bool contains(const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

// Splits the words after the command name; false (with a message) on an
// unknown option or a missing value. "--" ends the options.
bool parse_arguments(const CommandSpec& command, int argc, char** argv, Arguments& args,
                     Console& console) {
    bool options_done = false;
    for (int i = 0; i < argc; ++i) {
        std::string word = argv[i];
        if (options_done || word.size() < 2 || word[0] != '-') {
            args.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            options_done = true;
            continue;
        }
        std::string name = word;
        std::string value;
        bool inline_value = false;
        if (size_t eq = word.find('='); word.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = word.substr(0, eq);
            value = word.substr(eq + 1);
            inline_value = true;
        }
        if (name == "-h" || name == "--help") {
            args.options.emplace_back("--help", "");
        } else if (contains(command.flags, name) && !inline_value) {
            args.options.emplace_back(name, "");
        } else if (contains(command.valued, name)) {
            if (!inline_value) {
                if (i + 1 >= argc) {
                    print_error(console,
                                std::string(command.name) + ": " + name + " needs a value");
                    return false;
                }
                value = argv[++i];
            }
            args.options.emplace_back(name, value);
        } else {
            print_error(console, std::string(command.name) + ": unknown option " + word +
                                     " (see epk2 " + command.name + " --help)");
            return false;
        }
    }
    return true;
}

} // namespace

int epk2_main(int argc, char** argv, Console& console) {
    if (argc < 2) {
        print_tool_help(console.err);
        return EXIT_USAGE;
    }
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        if (name == "help" && argc > 2) {
            for (const CommandSpec& command : epk2_commands()) {
                if (argv[2] == std::string(command.name)) {
                    std::fputs(command.usage, console.out);
                    return EXIT_OK;
                }
            }
        }
        print_tool_help(console.out);
        return EXIT_OK;
    }
    if (name == "--version") {
        std::fputs("epk2 1.0\n", console.out);
        return EXIT_OK;
    }
    for (const CommandSpec& command : epk2_commands()) {
        if (name != command.name) {
            continue;
        }
        Arguments args;
        if (!parse_arguments(command, argc - 2, argv + 2, args, console)) {
            return EXIT_USAGE;
        }
        if (args.has("--help")) {
            std::fputs(command.usage, console.out);
            return EXIT_OK;
        }
        return command.run(args, console);
    }
    print_error(console, "unknown command '" + name + "' (see epk2 --help)");
    return EXIT_USAGE;
}
