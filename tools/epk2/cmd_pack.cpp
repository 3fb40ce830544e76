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
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    uint32_t attributes = platform_attributes(folder.c_str());
    if (attributes == PLATFORM_ATTRIBUTES_INVALID || !(attributes & PLATFORM_ATTRIBUTE_DIRECTORY)) {
        print_error(console, args.positional[0] + ": no such folder");
        return EXIT_USAGE;
    }
    std::string error;
    std::vector<std::string> skipped;
    FileSystemPtr source(sorted_folder_open(folder, error, skipped));
    if (!source) {
        print_error(console, args.positional[0] + ": " + error);
        return EXIT_USAGE;
    }
    for (const std::string& name : skipped) {
        print_error(console, "warning: " + args.positional[0] + to_console(name) +
                                 " left out: not a regular file (a FIFO, socket or device)");
    }
    return run_builder(console, args, args.value("-o"), output, std::move(source), nullptr, "pack");
}
