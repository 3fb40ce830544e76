#include "console_text.h"
#include "entry_reader.h"
#include "tool_support.h"

int command_cat(const Arguments& args, Console& console) {
    if (args.positional.size() != 2) {
        print_error(console, "cat: give ARCHIVE and PATH (see epk2 cat --help)");
        return EXIT_USAGE;
    }
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
