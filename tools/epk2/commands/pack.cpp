#include <cstring>

#include "archive/archive_builder.h"
#include "cli/cli.h"
#include "commands/commands.h"
#include "fs/filesystem.h"
#include "fs/sorted_folder.h"
#include "platform/platform.h"
#include "support/safe_names.h"
#include "support/text.h"
#include "update/loose_names.h"

namespace {

const char* const HELP =
    "Usage: epk2 pack FOLDER -o ARCHIVE [--verbose] [--recompress] [--strict]\n"
    "\n"
    "Packs every file and folder below FOLDER into ARCHIVE. Within each folder\n"
    "names are taken in byte order, so the same folder always gives the same\n"
    "archive. Files are deflated unless FOLDER/_config.txt lists them under a\n"
    "[NoCompression] line (one wildcard pattern per line, matched against the\n"
    "full path such as /bgm/title.ogg; \"*.ogg\" matches in every folder).\n"
    "Blank lines are skipped. A _config.txt over 1 MiB or with more than\n"
    "65,536 patterns fails the pack.\n"
    "Entries whose path contains \".svn\" are left out.\n"
    "\n"
    "The archive is written beside ARCHIVE and moved into place when complete;\n"
    "on failure nothing is left at ARCHIVE.\n"
    "\n"
    "  -o ARCHIVE     the archive to write (replaced if it exists)\n"
    "  --verbose      print the builder's log: each file's offset and sizes\n"
    "  --recompress   deflate everything anew (no effect when packing a folder)\n"
    "  --skip-unrepresentable\n"
    "                 leave out files whose names have no Shift_JIS (code page 932)\n"
    "                 form, with a warning each, instead of refusing to pack\n"
    "  --strict       fail (status 1), writing nothing, when a name would not come\n"
    "                 out again; without it each such name is only warned about\n"
    "\n"
    "A name that epk2 extract and the updater refuse to write (a control\n"
    "character such as ESC, a backslash, a colon, a Windows device name such as\n"
    "NUL, a name ending in a dot or a blank) goes into the archive but never\n"
    "out of it, and so does a file below /_extract under one of the updater's\n"
    "own names (Tessavane.dat, Tessavane.tmp, ...). Each is named with a warning.\n"
    "\n"
    "Example: epk2 pack data -o Tessavane.dat --strict\n";

// A name the archive can hold but that its readers will not write out.
struct RefusedName {
    std::string path; // "/a/b", code page 932
    std::string why;
};

struct NameCheck {
    std::vector<RefusedName> refused;
};

// Every entry of the folder, as extract and the updater would judge it:
// extract refuses any path with a component it cannot create safely, and
// the updater stops at a file below /_extract it will not write into the
// install folder.
int check_name(void* context, FileSystem*, DirEntry* entry) {
    auto& check = *static_cast<NameCheck*>(context);
    if (builder_leaves_out(entry->name)) {
        return 1;
    }
    std::string path = entry->name;
    std::vector<std::string> components;
    std::string why;
    const bool loose =
        !(entry->attributes & DIRENTRY_DIRECTORY) && path.rfind("/_extract/", 0) == 0;
    if (!split_safe_path(path, components, why)) {
        check.refused.push_back({path, (loose ? "epk2 extract and the updater refuse it: "
                                              : "epk2 extract refuses it: ") +
                                           why});
    } else if (loose && !loose_name_allowed(path_file_name(path.c_str()), why)) {
        check.refused.push_back({path, "the updater would stop at this loose file: " + why});
    }
    return 1;
}

int command_pack(const Arguments& args, Console& console) {
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
    report.shown = to_console;
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
                        "pack: " + text_count_of(report.unrepresentable.size(), "name", "names") +
                            " cannot go into an archive; rename them, or give "
                            "--skip-unrepresentable to leave them out");
            return EXIT_USAGE;
        }
    }
    for (const std::string& name : report.special) {
        print_error(console, "warning: " + shown_folder + to_console(name) +
                                 " left out: not a regular file (a FIFO, socket or device)");
    }
    // What goes into the archive but would not come out again is worth a
    // word before the archive ships; --strict makes it an error.
    NameCheck names;
    fs_enumerate(source.get(), "/", 1, &names, check_name);
    const bool strict = args.has("--strict");
    for (const RefusedName& name : names.refused) {
        print_error(console, (strict ? "" : "warning: ") + shown_folder + to_console(name.path) +
                                 ": " + name.why);
    }
    if (strict && !names.refused.empty()) {
        print_error(console, "pack: " + text_count_of(names.refused.size(), "name", "names") +
                                 " would not be extracted; rename them, or leave out --strict "
                                 "to pack them anyway");
        return EXIT_DAMAGED;
    }
    return run_builder(console, args, args.value("-o"), output, std::move(source), nullptr, "pack");
}

} // namespace

const CommandDefinition PACK_COMMAND = {
    .help = HELP,
    .flags = {"--verbose", "--recompress", "--skip-unrepresentable", "--strict"},
    .valued = {"-o"},
    .needs = {.least = 1, .most = 1, .give = "FOLDER and -o ARCHIVE", .option = "-o"},
    .run = command_pack,
};
