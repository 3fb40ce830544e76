#include "archive/archive_fs.h"
#include "console_text.h"
#include "platform/platform.h"
#include "tool_support.h"
#include "update/version_info.h"

namespace {
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
} // namespace

int command_info(const Arguments& args, Console& console) {
    int status = EXIT_OK;
    FileSystemPtr fs = open_sole_archive(args, console, "info", status);
    if (!fs) {
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
