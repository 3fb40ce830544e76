#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "archive/archive_builder.h"
#include "fs/filesystem.h"
#include "support/messages.h"

void fuzz_fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("fuzz check failed: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

namespace {

void quiet_hook(intptr_t, const char* text) {
    if (!text) {
        fuzz_fail("message hook got a null text");
    }
    size_t length = strnlen(text, MESSAGE_BUFFER_SIZE);
    if (length >= MESSAGE_BUFFER_SIZE) {
        fuzz_fail("library message is not terminated within %u bytes", MESSAGE_BUFFER_SIZE);
    }
    static const bool verbose = std::getenv("EPK2_FUZZ_VERBOSE") != nullptr;
    if (verbose) {
        std::fputs(text, stderr);
    }
}

std::mutex temp_lock;
std::set<std::string> temp_paths;
std::set<std::string> temp_dirs;

void remove_temp_files() {
    std::lock_guard<std::mutex> hold(temp_lock);
    for (const std::string& path : temp_paths) {
        unlink(path.c_str());
    }
    for (const std::string& path : temp_dirs) {
        rmdir(path.c_str());
    }
}

std::string temp_name(const char* suffix) {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder && *folder ? folder : "/tmp") + "/epk2fuzz-" +
           std::to_string(getpid()) + "-" + suffix;
}

// Called with temp_lock held.
void arm_cleanup() {
    static bool armed = false;
    if (!armed) {
        armed = true;
        std::atexit(remove_temp_files);
    }
}

} // namespace

void fuzz_quiet_messages() {
    set_message_hook(0, quiet_hook);
}

bool fuzz_pack(const std::vector<MemoryEntry>& entries, const std::string& output,
               std::string* error) {
    FileSystem* source = memory_fs_open(entries);
    ArchiveBuilder builder;
    builder.options.log = nullptr;
    bool ok = builder.pack(output.c_str(), source, nullptr, nullptr, nullptr);
    if (!ok && error) {
        *error = builder.error();
    }
    fs_close(source);
    return ok;
}

std::string fuzz_temp_path(const char* suffix) {
    std::string path = temp_name(suffix);
    fuzz_temp_register(path);
    return path;
}

void fuzz_temp_register(const std::string& path) {
    std::lock_guard<std::mutex> hold(temp_lock);
    arm_cleanup();
    temp_paths.insert(path);
}

std::string fuzz_temp_dir(const char* suffix) {
    std::string path = temp_name(suffix);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        fuzz_fail("cannot create %s", path.c_str());
    }
    std::lock_guard<std::mutex> hold(temp_lock);
    arm_cleanup();
    temp_dirs.insert(path);
    return path;
}

bool fuzz_write_file(const std::string& path, const void* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

std::vector<std::string> reference_lines(const std::string& bytes, uint32_t size) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        std::string line;
        while (line.size() + 1 < size && at < bytes.size()) {
            char c = bytes[at++];
            if (c == '\r' && at < bytes.size()) {
                char next = bytes[at++];
                if (next == '\n') {
                    break;
                }
                c = next;
            }
            line += c;
        }
        lines.push_back(line);
    }
    return lines;
}
