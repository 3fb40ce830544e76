#include <set>

#include "console_text.h"
#include "entry_reader.h"
#include "platform/platform.h"
#include "progress.h"
#include "safe_names.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "support/wildcard.h"
#include "tool_support.h"

namespace {

bool matches_any(const std::string& path, const std::vector<std::string>& patterns) {
    if (patterns.empty()) {
        return true;
    }
    for (const std::string& pattern : patterns) {
        if (wildcard_match(path.c_str(), pattern.c_str())) {
            return true;
        }
    }
    return false;
}

bool is_directory(const std::string& path) {
    uint32_t attributes = platform_attributes(path.c_str());
    return attributes != PLATFORM_ATTRIBUTES_INVALID && (attributes & PLATFORM_ATTRIBUTE_DIRECTORY);
}

// Creates each folder along components[0..count) below root; the host path of
// the last one comes back in path. A link on the way is refused, so nothing
// is written outside root whatever links its tree holds.
bool make_folders(const std::string& root, const std::vector<std::string>& components, size_t count,
                  std::string& path, std::string& why) {
    path = root;
    for (size_t i = 0; i < count; ++i) {
        path += platform_separator();
        path += components[i];
        if (platform_path_is_link(path.c_str())) {
            why = to_console(path) + " is a link";
            return false;
        }
        if (!is_directory(path) && !platform_make_dir(path.c_str())) {
            why = "cannot create the folder " + to_console(path);
            return false;
        }
    }
    return true;
}

// Writes one entry beside target and moves it into place when whole: a
// damaged entry or a full disk leaves the old file as it was, and a link
// at target is replaced, never written through.
EntryReadResult write_entry(FileSystem* fs, const ListedEntry& entry, const std::string& target,
                            bool& created) {
    WorkFile work;
    created = work_file_create(&work, target.c_str());
    if (!created) {
        return {};
    }
    StreamPtr out(work_file_stream(&work, nullptr));
    EntryReadResult result;
    if (!out) {
        work_file_discard(&work);
        result.sink_failed = true;
        return result;
    }
    result = read_entry(fs, entry.info, [&](const unsigned char* data, uint32_t size) {
        return stream_write(out.get(), data, size) == size;
    });
    out.reset();
    if (result.sink_failed || !result.problem.empty()) {
        work_file_discard(&work);
    } else if (!work_file_commit(&work)) {
        result.sink_failed = true;
    }
    return result;
}

struct ExtractCounts {
    uint64_t files = 0;
    size_t refused = 0;
    size_t damaged = 0;
    size_t failed = 0;
};

} // namespace

int command_extract(const Arguments& args, Console& console) {
    if (args.positional.empty()) {
        print_error(console, "extract: give an ARCHIVE (see epk2 extract --help)");
        return EXIT_USAGE;
    }
    std::string archive_path;
    std::string root = ".";
    if (!argument_to_library(console, args.positional[0], archive_path) ||
        (args.has("-C") && !argument_to_library(console, args.value("-C"), root))) {
        return EXIT_USAGE;
    }
    std::vector<std::string> patterns;
    for (size_t i = 1; i < args.positional.size(); ++i) {
        std::string pattern;
        if (!argument_to_library(console, args.positional[i], pattern)) {
            return EXIT_USAGE;
        }
        patterns.push_back(pattern);
    }
    while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) {
        root.pop_back();
    }
    if (!is_directory(root) && !platform_make_dir(root.c_str())) {
        print_error(console, "extract: cannot create the folder " + args.value("-C", root));
        return EXIT_USAGE;
    }
    int status = EXIT_OK;
    FileSystemPtr fs = open_archive_for_command(console, args.positional[0], archive_path, status);
    if (!fs) {
        return status;
    }

    std::vector<ListedEntry> entries = list_archive(fs.get());
    uint64_t files_total = 0;
    uint64_t bytes_total = 0;
    for (const ListedEntry& entry : entries) {
        if (!entry.directory && matches_any(entry.path, patterns)) {
            ++files_total;
            bytes_total += entry.size;
        }
    }
    ProgressBar progress(console, "extract", files_total, bytes_total);
    ExtractCounts counts;
    uint64_t bytes_done = 0;
    for (const ListedEntry& entry : entries) {
        if (!matches_any(entry.path, patterns) || (entry.directory && !patterns.empty())) {
            continue;
        }
        std::string shown = to_console(entry.path);
        std::vector<std::string> components;
        std::string why;
        if (!split_safe_path(entry.path, components, why)) {
            ++counts.refused;
            print_error(console, "refused " + shown + ": " + why);
            continue;
        }
        std::string target;
        size_t folders = entry.directory ? components.size() : components.size() - 1;
        if (!make_folders(root, components, folders, target, why)) {
            ++counts.failed;
            print_error(console, "cannot extract " + shown + ": " + why);
            continue;
        }
        if (entry.directory) {
            continue;
        }
        target += platform_separator();
        target += components.back();
        bool created = false;
        EntryReadResult result = write_entry(fs.get(), entry, target, created);
        if (!created) {
            ++counts.failed;
            print_error(console, "cannot create " + to_console(target));
            continue;
        }
        if (result.sink_failed) {
            ++counts.failed;
            print_error(console, "cannot write " + to_console(target));
        } else if (!result.problem.empty()) {
            ++counts.damaged;
            print_error(console,
                        args.positional[0] + ": " + shown + " is damaged: " + result.problem);
        } else {
            ++counts.files;
        }
        progress.advance(counts.files + counts.damaged + counts.failed, bytes_done += entry.size);
    }
    progress.finish();
    std::fprintf(console.out, "extracted %llu files to %s", (unsigned long long)counts.files,
                 to_console(root).c_str());
    if (counts.refused || counts.damaged || counts.failed) {
        std::fprintf(console.out, " (%zu refused, %zu damaged, %zu failed)", counts.refused,
                     counts.damaged, counts.failed);
    }
    std::fputc('\n', console.out);
    if (counts.failed) {
        return EXIT_USAGE;
    }
    return counts.refused || counts.damaged ? EXIT_DAMAGED : EXIT_OK;
}
