#include "archive/archive_fs.h"
#include "cli/cli.h"
#include "commands/commands.h"
#include "platform/platform.h"
#include "update/version_info.h"

namespace {

const char* const HELP = "Usage: epk2 info ARCHIVE\n"
                         "\n"
                         "Shows the archive's size, table end, directory and file counts, and the\n"
                         "identifer, version and attribute of its info.txt. The root directory is\n"
                         "not counted, as list and pack do not count it.\n"
                         "\n"
                         "Example: epk2 info Patch.dat\n";

uint64_t file_size(const std::string& path) {
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    uint32_t low = 0;
    uint32_t high = 0;
    if (file != PLATFORM_INVALID_FILE) {
        platform_file_size(file, &low, &high);
        platform_file_close(file);
    }
    return (uint64_t(high) << 32) | low;
}

int command_info(const Arguments& args, Console& console) {
    FileSystemPtr fs;
    if (int status = open_first_archive(args, console, fs)) {
        return status;
    }
    ArchiveHeaderInfo header{};
    archive_header_info(fs.get(), &header);
    // The root is a record too, but no directory anyone made: list and pack
    // leave it out of their counts as well.
    std::fprintf(console.out,
                 "archive:     %s\n"
                 "size:        %llu bytes\n"
                 "table end:   %u\n"
                 "directories: %u\n"
                 "files:       %u\n",
                 to_console_from_terminal(args.positional[0]).c_str(),
                 (unsigned long long)file_size(fs->header.root_path), header.table_end,
                 header.dir_count - 1, header.file_count);
    VersionInfo info{};
    MessageCapture quiet;
    if (!read_version_info(fs.get(), &info)) {
        std::fputs("info.txt:    none\n", console.out);
        return EXIT_OK;
    }
    std::fprintf(console.out,
                 "identifer:   %s\n"
                 "version:     %s\n"
                 "attribute:   %s\n",
                 to_console(info.identifer).c_str(), to_console(info.version).c_str(),
                 to_console(info.attribute).c_str());
    return EXIT_OK;
}

} // namespace

const CommandDefinition INFO_COMMAND = {
    .help = HELP,
    .flags = {},
    .valued = {},
    .needs = {.least = 1, .most = 1, .give = "exactly one ARCHIVE"},
    .run = command_info,
};
