#include <cinttypes>

#include "archive/archive_fs.h"
#include "cli/cli.h"
#include "commands/commands.h"

namespace {

const char* const HELP =
    "Usage: epk2 list [--json] ARCHIVE\n"
    "\n"
    "Lists every entry in archive order (each directory before its contents):\n"
    "size, stored size, scrambling key, whether it is compressed, and the path;\n"
    "the last line counts files and directories (the root not counted).\n"
    "Control characters in a name are shown escaped (\\n, \\r, \\t, \\xNN),\n"
    "here and wherever a command names an entry; an empty name shows as \"\"\n"
    "(--json gives the path as it is, \"/data/\" for such a file in /data).\n"
    "\n"
    "  --json   one JSON array of objects {path, type, size, stored_size, key,\n"
    "           compressed} for scripts (paths in UTF-8)\n"
    "\n"
    "Example: epk2 list Tessavane.dat\n";

void print_table(Console& console, FileSystem* fs, const std::vector<ListedEntry>& entries) {
    std::fprintf(console.out, "%10s %10s %3s %4s  %s\n", "size", "stored", "key", "comp", "path");
    uint64_t total_size = 0;
    uint64_t total_stored = 0;
    size_t files = 0;
    for (const ListedEntry& entry : entries) {
        std::string shown = to_console_path(entry.path);
        if (entry.directory) {
            // As --json writes it: the "dir" column, not a trailing "/",
            // says it is a folder.
            std::fprintf(console.out, "%10s %10s %3s %4s  %s\n", "-", "-", "-", "dir",
                         shown.c_str());
            continue;
        }
        const ArchiveEntryInfo& info = entry.info;
        ++files;
        total_size += info.size;
        total_stored += info.stored_size;
        std::fprintf(console.out, "%10" PRIu32 " %10" PRIu32 " %3u %4s  %s\n", info.size,
                     info.stored_size, info.key, info.stored_size != info.size ? "yes" : "no",
                     shown.c_str());
    }
    std::fprintf(console.out, "%10" PRIu64 " %10" PRIu64 "           %s, %s\n", total_size,
                 total_stored, text_count_of(files, "file", "files").c_str(),
                 text_count_of(entries.size() - files, "directory", "directories").c_str());
}

void print_json(Console& console, FileSystem* fs, const std::vector<ListedEntry>& entries) {
    std::fputs("[", console.out);
    bool first = true;
    for (const ListedEntry& entry : entries) {
        std::fprintf(console.out, "%s\n  {\"path\": \"%s\", ", first ? "" : ",",
                     to_json_string(entry.path).c_str());
        first = false;
        if (entry.directory) {
            std::fputs("\"type\": \"directory\"}", console.out);
            continue;
        }
        const ArchiveEntryInfo& info = entry.info;
        std::fprintf(console.out,
                     "\"type\": \"file\", \"size\": %" PRIu32 ", \"stored_size\": %" PRIu32
                     ", \"key\": %u, \"compressed\": %s}",
                     info.size, info.stored_size, info.key,
                     info.stored_size != info.size ? "true" : "false");
    }
    std::fputs(first ? "]\n" : "\n]\n", console.out);
}

int command_list(const Arguments& args, Console& console) {
    FileSystemPtr fs;
    if (int status = open_first_archive(args, console, fs)) {
        return status;
    }
    std::vector<ListedEntry> entries = list_archive(fs.get());
    if (args.has("--json")) {
        print_json(console, fs.get(), entries);
    } else {
        print_table(console, fs.get(), entries);
    }
    return std::ferror(console.out) ? EXIT_USAGE : EXIT_OK;
}

} // namespace

const CommandDefinition LIST_COMMAND = {
    .help = HELP,
    .flags = {"--json"},
    .valued = {},
    .needs = {.least = 1, .most = 1, .give = "exactly one ARCHIVE"},
    .run = command_list,
};
