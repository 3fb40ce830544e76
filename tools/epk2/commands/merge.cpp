#include "builder_run.h"
#include "tool_support.h"

int command_merge(const Arguments& args, Console& console) {
    if (args.positional.size() != 2 || !args.has("-o")) {
        print_error(console, "merge: give PATCH, BASE and -o OUT (see epk2 merge --help)");
        return EXIT_USAGE;
    }
    std::string patch_path;
    std::string base_path;
    std::string output;
    if (!argument_to_library(console, args.positional[0], patch_path) ||
        !argument_to_library(console, args.positional[1], base_path) ||
        !argument_to_library(console, args.value("-o"), output)) {
        return EXIT_USAGE;
    }
    int status = EXIT_OK;
    FileSystemPtr patch = open_archive_for_command(console, args.positional[0], patch_path, status);
    if (!patch) {
        return status;
    }
    FileSystemPtr base = open_archive_for_command(console, args.positional[1], base_path, status);
    if (!base) {
        return status;
    }
    return run_builder(console, args, args.value("-o"), output, std::move(patch), std::move(base),
                       "merge");
}
