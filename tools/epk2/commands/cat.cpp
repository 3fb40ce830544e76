#include "cli/cli.h"
#include "commands/commands.h"

namespace {

const char* const HELP =
    "Usage: epk2 cat ARCHIVE PATH\n"
    "\n"
    "Writes the content of the file PATH (for example info.txt or /data/a.txt)\n"
    "to standard output, descrambled and inflated.\n"
    "\n"
    "Example: epk2 cat Patch.dat info.txt\n";

int command_cat(const Arguments& args, Console& console) {
    std::string archive_path;
    std::string entry_path;
    if (!argument_to_library(console, args.positional[0], archive_path) ||
        !argument_to_library(console, args.positional[1], entry_path)) {
        return EXIT_USAGE;
    }
    int status = EXIT_OK;
    FileSystemPtr fs = open_archive_for_command(console, args.positional[0], archive_path, status);
    if (!fs) {
        return status;
    }
    ArchiveEntryInfo info;
    if (!archive_entry_info(fs.get(), entry_path.c_str(), &info)) {
        // A folder of that name is there but holds no content to show.
        bool folder = fs_enumerate(fs.get(), entry_path.c_str(), 0, nullptr, nullptr) != 0;
        print_error(console, args.positional[0] + ": " +
                                 (folder ? args.positional[1] + " is a folder in the archive"
                                         : "no entry matches '" + args.positional[1] + "'"));
        return folder ? EXIT_USAGE : EXIT_DAMAGED;
    }
    EntryReadResult result =
        read_entry(fs.get(), info, [&](const unsigned char* data, uint32_t size) {
            return std::fwrite(data, 1, size, console.out) == size;
        });
    std::fflush(console.out);
    if (result.sink_failed) {
        print_error(console, "cat: cannot write to standard output: " + os_reason());
        return EXIT_USAGE;
    }
    if (!result.problem.empty()) {
        print_error(console, args.positional[0] + ": " + to_console(entry_path) +
                                 " is damaged: " + result.problem);
        return EXIT_DAMAGED;
    }
    return EXIT_OK;
}

} // namespace

const CommandDefinition CAT_COMMAND = {
    .help = HELP,
    .flags = {},
    .valued = {},
    .needs = {.least = 2, .most = 2, .give = "ARCHIVE and PATH"},
    .run = command_cat,
};
