#include "cli/cli.h"

#include <algorithm>

namespace {

void print_tool_help(const ToolDefinition& tool, FILE* out) {
    std::fputs(tool.help_head, out);
    for (const Command& command : tool.commands) {
        std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
    }
    std::fputs(tool.help_tail, out);
}

bool contains(const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

// Splits the words after the command name; false (with a message) on an
// unknown option or a missing value. "--" ends the options.
bool parse_arguments(const Command& command, int argc, char** argv, Arguments& args,
                     Console& console) {
    const CommandDefinition& definition = command.definition;
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
        } else if (contains(definition.flags, name) && !inline_value) {
            args.options.emplace_back(name, "");
        } else if (contains(definition.valued, name)) {
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

// False (with the command's own words) when the command line lacks what the
// command needs.
bool has_needs(const Command& command, const Arguments& args, Console& console) {
    const ArgumentNeeds& needs = command.definition.needs;
    auto refuse = [&](const char* give) {
        print_error(console, std::string(command.name) + ": give " + give + " (see epk2 " +
                                 command.name + " --help)");
        return false;
    };
    const bool option_missing =
        needs.option && !args.has(needs.option) && !(needs.unless && args.has(needs.unless));
    if (option_missing && needs.give_option) {
        return refuse(needs.give_option);
    }
    const size_t count = args.positional.size();
    if (count < needs.least || count > needs.most || option_missing) {
        return refuse(needs.give);
    }
    return true;
}

} // namespace

int cli_run(const ToolDefinition& tool, int argc, char** argv, Console& console) {
    if (argc < 2) {
        print_tool_help(tool, console.err);
        return EXIT_USAGE;
    }
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        if (name == "help" && argc > 2) {
            for (const Command& command : tool.commands) {
                if (argv[2] == std::string(command.name)) {
                    std::fputs(command.definition.help, console.out);
                    return EXIT_OK;
                }
            }
        }
        print_tool_help(tool, console.out);
        return EXIT_OK;
    }
    if (name == "--version") {
        std::fputs(tool.version, console.out);
        return EXIT_OK;
    }
    for (const Command& command : tool.commands) {
        if (name != command.name) {
            continue;
        }
        Arguments args;
        if (!parse_arguments(command, argc - 2, argv + 2, args, console)) {
            return EXIT_USAGE;
        }
        if (args.has("--help")) {
            std::fputs(command.definition.help, console.out);
            return EXIT_OK;
        }
        if (!has_needs(command, args, console)) {
            return EXIT_USAGE;
        }
        return command.definition.run(args, console);
    }
    print_error(console, "unknown command '" + name + "' (see epk2 --help)");
    return EXIT_USAGE;
}
