#include "builder_run.h"
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
    FileSystemPtr source(sorted_folder_open(folder, error));
    if (!source) {
        print_error(console, args.positional[0] + ": " + error);
        return EXIT_USAGE;
    }
    return run_builder(console, args, args.value("-o"), output, source.get(), nullptr, "pack");
}
