#include "builder_run.h"
#include "console_text.h"
#include "platform/platform.h"
#include "sorted_folder.h"
#include "tool_support.h"

int command_pack(const Arguments& args, Console& console) {
    if (args.positional.size() != 1 || !args.has("-o")) {
        print_error(console, "pack: give FOLDER and -o ARCHIVE (see epk2 pack --help)");
        return EXIT_USAGE;
    }
    std::string folder;
    std::string output;
    if (!argument_to_library(console, args.positional[0], folder) ||
        !argument_to_library(console, args.value("-o"), output)) {
        return EXIT_USAGE;
    }
    drop_trailing_separators(folder);
    uint32_t attributes = platform_attributes(folder.c_str());
    if (attributes == PLATFORM_ATTRIBUTES_INVALID) {
        print_error(console, args.positional[0] + ": no such folder: " + os_reason());
        return EXIT_USAGE;
    }
    if (!(attributes & PLATFORM_ATTRIBUTE_DIRECTORY)) {
        print_error(console, args.positional[0] +
                                 ": is a file, not a folder (pack takes a folder; epk2 list "
                                 "shows what an archive holds)");
        return EXIT_USAGE;
    }
    std::string error;
    FolderWalkReport report;
    FileSystemPtr source(sorted_folder_open(folder, path_inside(folder, output), error, report));
    if (!source) {
        print_error(console, args.positional[0] + ": " + error);
        return EXIT_USAGE;
    }
    const std::string shown_folder = args.positional[0];
    if (!report.unrepresentable.empty()) {
        // Nothing is written unless the user says to leave them out.
        const bool skip = args.has("--skip-unrepresentable");
        for (const std::string& name : report.unrepresentable) {
            print_error(console, (skip ? "warning: left out " : "") + shown_folder + name +
                                     ": the name has no Shift_JIS (code page 932) form");
        }
        if (!skip) {
            print_error(console,
                        "pack: " + count_of(report.unrepresentable.size(), "name", "names") +
                            " cannot go into an archive; rename them, or give "
                            "--skip-unrepresentable to leave them out");
            return EXIT_USAGE;
        }
    }
    for (const std::string& name : report.special) {
        print_error(console, "warning: " + shown_folder + to_console(name) +
                                 " left out: not a regular file (a FIFO, socket or device)");
    }
    return run_builder(console, args, args.value("-o"), output, std::move(source), nullptr, "pack");
}
