#include "cli/cli.h"
#include "commands/commands.h"

namespace {

const char* const HELP =
    "Usage: epk2 merge PATCH BASE -o OUT [--verbose] [--recompress] [--check-base]\n"
    "\n"
    "Writes OUT with every entry of PATCH and the entries of BASE that PATCH\n"
    "does not hold; where both hold a file, PATCH's wins. PATCH's _config.txt\n"
    "decides which files stay uncompressed (as for pack: one over 1 MiB or\n"
    "with more than 65,536 patterns fails the merge). Entries already stored as\n"
    "OUT wants them are copied without inflating and deflating again; PATCH's\n"
    "copied entries are still inflated once to check them, BASE's are copied\n"
    "exactly as they lie (check them with --check-base, or epk2 verify).\n"
    "Entries whose stored name is empty (written so by some other writers of\n"
    "the format) are left out with a warning: no path names them, so nothing\n"
    "could read them, and two in one folder could not be told apart.\n"
    "\n"
    "  -o OUT         the archive to write (may be BASE itself: it is replaced\n"
    "                 only once the new archive is complete)\n"
    "  --verbose      print the builder's log\n"
    "  --recompress   inflate and deflate every entry anew\n"
    "  --check-base   also check BASE's copied entries; a damaged one fails the merge\n"
    "\n"
    "Example: epk2 merge Patch.dat Tessavane.dat -o Tessavane.new\n";

int command_merge(const Arguments& args, Console& console) {
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

} // namespace

const CommandDefinition MERGE_COMMAND = {
    .help = HELP,
    .flags = {"--verbose", "--recompress", "--check-base"},
    .valued = {"-o"},
    .needs = {.least = 2, .most = 2, .give = "PATCH, BASE and -o OUT", .option = "-o"},
    .run = command_merge,
};
