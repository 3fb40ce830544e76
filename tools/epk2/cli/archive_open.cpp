#include "cli/cli.h"

#include "platform/platform.h"
#include "support/messages.h"

namespace {
void collect_record(void* context, const DirEntry* entry, const ArchiveEntryInfo* info) {
    auto* entries = static_cast<std::vector<ListedEntry>*>(context);
    ListedEntry listed{entry->name, info == nullptr, entry->size, entry->attributes, {}};
    if (info) {
        listed.info = *info;
    }
    entries->push_back(std::move(listed));
}
} // namespace

FileSystemPtr open_archive_for_command(Console& console, const std::string& display_path,
                                       const std::string& library_path, int& status) {
    uint32_t attributes = platform_attributes(library_path.c_str());
    if (attributes == PLATFORM_ATTRIBUTES_INVALID) {
        print_error(console, display_path + ": no such file");
        status = EXIT_USAGE;
        return nullptr;
    }
    if (attributes & PLATFORM_ATTRIBUTE_DIRECTORY) {
        print_error(console, display_path + ": is a folder, not an archive");
        status = EXIT_USAGE;
        return nullptr;
    }
    if (attributes & PLATFORM_ATTRIBUTE_SPECIAL) {
        print_error(console, display_path + ": not a regular file (a FIFO, socket or device)");
        status = EXIT_USAGE;
        return nullptr;
    }
    MessageCapture capture;
    FileSystemPtr fs(archive_open(nullptr, library_path.c_str(), nullptr));
    if (!fs) {
        std::string why = capture.last();
        // The file itself could not be had: a usage or input/output error.
        // It opened but is no archive we can read: a damaged archive.
        ErrorReason reason = error_reason_last();
        bool unreadable = reason == ERROR_REASON_NOT_FOUND || reason == ERROR_REASON_IO_ERROR ||
                          reason == ERROR_REASON_OUT_OF_MEMORY;
        print_error(console, display_path + ": " +
                                 (unreadable ? "cannot be opened: " + os_reason()
                                             : "not a readable EPK2 archive: " + to_console(why)));
        status = unreadable ? EXIT_USAGE : EXIT_DAMAGED;
    }
    return fs;
}

int open_first_archive(const Arguments& args, Console& console, FileSystemPtr& fs) {
    std::string path;
    if (!argument_to_library(console, args.positional[0], path)) {
        return EXIT_USAGE;
    }
    int status = EXIT_OK;
    fs = open_archive_for_command(console, args.positional[0], path, status);
    // A failure always gives a failing status, so callers may rely on fs.
    return fs ? EXIT_OK : (status != EXIT_OK ? status : EXIT_USAGE);
}

std::vector<ListedEntry> list_archive(FileSystem* fs) {
    // The walk hands each file's record along, so whether an entry is a
    // file never depends on its stored attribute byte, and listing needs no
    // lookup per entry.
    std::vector<ListedEntry> entries;
    archive_enumerate_records(fs, "/", 1, &entries, collect_record);
    return entries;
}
