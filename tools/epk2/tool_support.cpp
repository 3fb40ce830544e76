#include "tool_support.h"

#include <cstdio>
#include <set>

#include "archive/archive_fs.h"
#include "console_text.h"
#include "platform/platform.h"
#include "support/messages.h"

namespace {
MessageCapture* active_capture = nullptr;

std::string strip_message(const char* text) {
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    const std::string prefix = "Error: ";
    if (message.compare(0, prefix.size(), prefix) == 0) {
        message.erase(0, prefix.size());
    }
    return message;
}

int ignore_entry(void*, FileSystem*, DirEntry*) {
    return 1;
}

int collect_entry(void* context, FileSystem*, DirEntry* entry) {
    auto* entries = static_cast<std::vector<ListedEntry>*>(context);
    entries->push_back({entry->name, (entry->attributes & DIRENTRY_DIRECTORY) != 0, entry->size,
                        entry->attributes});
    return 1;
}
} // namespace

MessageCapture::MessageCapture() : previous_(active_capture) {
    active_capture = this;
    set_message_hook(0, &MessageCapture::hook);
}

MessageCapture::~MessageCapture() {
    active_capture = previous_;
    set_message_hook(0, previous_ ? &MessageCapture::hook : nullptr);
}

void MessageCapture::hook(intptr_t, const char* text) {
    if (active_capture) {
        active_capture->messages_.push_back(strip_message(text));
    }
}

void print_error(Console& console, const std::string& text) {
    std::fprintf(console.err, "epk2: %s\n", text.c_str());
    std::fflush(console.err);
}

bool argument_to_library(Console& console, const std::string& argument, std::string& path) {
    if (!from_console(argument, path)) {
        print_error(console, argument + ": the name has no Shift_JIS (code page 932) form");
        return false;
    }
    return true;
}

FileSystemPtr open_archive_for_command(Console& console, const std::string& display_path,
                                       const std::string& library_path, int& status) {
    if (platform_attributes(library_path.c_str()) == PLATFORM_ATTRIBUTES_INVALID) {
        print_error(console, display_path + ": no such file");
        status = EXIT_USAGE;
        return nullptr;
    }
    MessageCapture capture;
    FileSystemPtr fs(archive_open(nullptr, library_path.c_str(), nullptr));
    if (!fs) {
        std::string why = capture.last();
        bool unreadable = why.rfind("Failed to Open", 0) == 0;
        print_error(console, display_path + ": " +
                                 (unreadable ? "cannot be opened"
                                             : "not a readable EPK2 archive: " + to_console(why)));
        status = unreadable ? EXIT_USAGE : EXIT_DAMAGED;
    }
    return fs;
}

std::vector<ListedEntry> list_archive(FileSystem* fs) {
    std::vector<ListedEntry> entries;
    fs_enumerate(fs, "/", 1, &entries, collect_entry);
    // Enumeration hands a file's attribute byte on as it is stored, so a
    // file whose byte has the directory bit would pass for a directory and
    // be skipped by verify and extract. Ask the table instead. A directory
    // is reported before a file of the same name in the same folder.
    std::set<std::string> directories;
    for (ListedEntry& entry : entries) {
        if (!entry.directory) {
            continue;
        }
        ArchiveEntryInfo info;
        bool is_file = archive_entry_info(fs, entry.path.c_str(), &info);
        bool is_folder = fs_enumerate(fs, entry.path.c_str(), 0, nullptr, ignore_entry) != 0;
        if (is_file && (!is_folder || directories.count(entry.path))) {
            entry.directory = false;
        } else {
            directories.insert(entry.path);
        }
    }
    return entries;
}

std::string format_bytes(double bytes) {
    static const char* units[] = {"B", "KB", "MB", "GB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 3) {
        bytes /= 1000.0;
        ++unit;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return buffer;
}
