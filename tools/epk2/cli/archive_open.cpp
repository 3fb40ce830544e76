#include "tool_support.h"

#include <cstdio>
#include <mutex>

#include "archive/archive_fs.h"
#include "console_text.h"
#include "platform/platform.h"
#include "support/messages.h"
#include "support/text.h"

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

void collect_record(void* context, const DirEntry* entry, const ArchiveEntryInfo* info) {
    auto* entries = static_cast<std::vector<ListedEntry>*>(context);
    ListedEntry listed{entry->name, info == nullptr, entry->size, entry->attributes, {}};
    if (info) {
        listed.info = *info;
    }
    entries->push_back(std::move(listed));
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
    // The builder's worker threads may report at the same time.
    static std::mutex mutex;
    std::lock_guard<std::mutex> guard(mutex);
    if (active_capture) {
        active_capture->messages_.push_back(strip_message(text));
    }
}

std::string os_reason() {
    char text[512];
    return to_console(platform_error_text(platform_error_code(), text, sizeof text));
}

namespace {
std::string full_path(const std::string& path) {
    char buffer[1024];
    uint32_t length = platform_full_path(buffer, sizeof buffer, path.c_str());
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
}
} // namespace

void drop_trailing_separators(std::string& path) {
    size_t keep = 0; // the end of the last character that is no separator
    for (size_t at = 0; at < path.size();) {
        size_t length = static_cast<size_t>(text_char_length(path.c_str() + at));
        bool separator = length == 1 && (path[at] == '/' || path[at] == '\\');
        at += length;
        if (!separator || keep == 0) {
            keep = at;
        }
    }
    path.resize(keep < path.size() ? keep : path.size());
}

std::vector<std::string> path_inside(const std::string& folder, const std::string& path) {
    std::string inside = full_path(folder);
    std::string full = full_path(path);
    drop_trailing_separators(inside);
    if (inside.size() != 1 || (inside[0] != '/' && inside[0] != platform_separator())) {
        inside += platform_separator();
    }
    if (full.compare(0, inside.size(), inside) != 0) {
        return {};
    }
    // From the separator that ends folder on, with "/" for every separator.
    std::string relative = full.substr(inside.size() - 1);
    for (char& c : relative) {
        c = c == platform_separator() ? '/' : c;
    }
    return {relative};
}

std::string count_of(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void print_error(Console& console, const std::string& text) {
    // The parts taken from names are escaped already; this catches any
    // argument a message echoes, so nothing reaches the terminal raw.
    std::fprintf(console.err, "epk2: %s\n", to_console_from_terminal(text).c_str());
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

FileSystemPtr open_sole_archive(const Arguments& args, Console& console, const char* command,
                                int& status) {
    status = EXIT_USAGE;
    if (args.positional.size() != 1) {
        print_error(console, std::string(command) + ": give exactly one ARCHIVE (see epk2 " +
                                 command + " --help)");
        return nullptr;
    }
    std::string path;
    if (!argument_to_library(console, args.positional[0], path)) {
        return nullptr;
    }
    status = EXIT_OK;
    return open_archive_for_command(console, args.positional[0], path, status);
}

std::vector<ListedEntry> list_archive(FileSystem* fs) {
    // The walk hands each file's record along, so whether an entry is a
    // file never depends on its stored attribute byte, and listing needs no
    // lookup per entry.
    std::vector<ListedEntry> entries;
    archive_enumerate_records(fs, "/", 1, &entries, collect_record);
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
