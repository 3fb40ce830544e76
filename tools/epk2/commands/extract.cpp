#include <set>

#include "cli/cli.h"
#include "commands/commands.h"
#include "platform/platform.h"
#include "platform/wildcard.h"
#include "stream/stream.h"
#include "stream/stream_ptr.h"
#include "stream/work_file.h"
#include "support/safe_names.h"

namespace {

const char* const HELP =
    "Usage: epk2 extract ARCHIVE [-C DIR] [PATTERN...]\n"
    "\n"
    "Writes every file of the archive below DIR (default: the current folder),\n"
    "creating folders as needed. With PATTERNs, only the files whose full path\n"
    "(\"/data/a.txt\") matches one of them: * matches any run of characters,\n"
    "\"/\" included, ? one character, letters match in either case.\n"
    "\n"
    "Entries whose names could escape DIR (\"..\", \".\", backslashes, colons,\n"
    "device names such as CON or NUL) are refused by name and the rest is\n"
    "extracted; the exit status is then 1. An entry whose stored name is empty\n"
    "(some writers of the format leave it so) has no name to give a file: it is\n"
    "skipped with a note, which alone does not change the exit status.\n"
    "\n"
    "Below DIR no link is followed: each folder is opened from the one above it,\n"
    "and a link found where a folder belongs (even one put there by someone else\n"
    "while extract runs) is named and nothing is written through it. A link or\n"
    "file at a file's own place is replaced, never written through. DIR itself\n"
    "may be a link: it is the folder you chose.\n"
    "\n"
    "  -C DIR   the folder to extract into (created if missing)\n"
    "\n"
    "Examples: epk2 extract Patch.dat -C patch\n"
    "          epk2 extract Tessavane.dat -C out '/_extract/*' '*.txt'\n";

// Archive paths start with "/"; a pattern given without one means the same
// ("data/*.txt" is "/data/*.txt"), one starting with a wildcard already
// matches from the root.
std::string as_archive_pattern(const std::string& pattern) {
    return pattern.empty() || pattern[0] == '/' || pattern[0] == '*' || pattern[0] == '?'
               ? pattern
               : "/" + pattern;
}

// True when path matches a pattern; matched[i] notes that pattern i did.
bool matches_any(const std::string& path, const std::vector<std::string>& patterns,
                 std::vector<bool>& matched) {
    if (patterns.empty()) {
        return true;
    }
    bool any = false;
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (wildcard_match(path.c_str(), patterns[i].c_str())) {
            matched[i] = true;
            any = true;
        }
    }
    return any;
}

bool is_directory(const std::string& path) {
    uint32_t attributes = platform_attributes(path.c_str());
    return attributes != PLATFORM_ATTRIBUTES_INVALID && (attributes & PLATFORM_ATTRIBUTE_DIRECTORY);
}

// The folders of the entry being extracted, held open from the extraction
// folder down: each is opened relative to the one above it and never
// through a link, so a folder swapped for a link after it was made or
// checked cannot send a file outside the extraction folder. Entries come
// folder by folder, so the chain is kept and only its changed end reopened.
class HeldFolders {
  public:
    HeldFolders(PlatformFolder root, std::string shown_root)
        : root_(root), shown_root_(std::move(shown_root)) {}
    ~HeldFolders() {
        close_from(0);
        platform_folder_close(root_);
    }
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;

    // Opens (making them where missing) components[0..count); the innermost
    // comes back, with its host path in path. On failure why names the
    // folder and the reason, a link by that word.
    PlatformFolder open(const std::vector<std::string>& components, size_t count, std::string& path,
                        std::string& why) {
        size_t kept = 0;
        while (kept < count && kept < names_.size() && names_[kept] == components[kept]) {
            ++kept;
        }
        close_from(kept);
        path = shown_root_;
        for (size_t i = 0; i < count; ++i) {
            path += platform_separator();
            path += components[i];
            if (i < kept) {
                continue;
            }
            PlatformFolder parent = i == 0 ? root_ : folders_.back();
            PlatformFolder folder = work_folder_step(parent, components[i].c_str(), true);
            if (folder == PLATFORM_INVALID_FOLDER) {
                int code = platform_error_code();
                why = platform_error_is_link(code)
                          ? to_console(path) + " is a link, which is not followed"
                          : "cannot create the folder " + to_console(path) + ": " + os_reason();
                platform_error_restore(code);
                return PLATFORM_INVALID_FOLDER;
            }
            names_.push_back(components[i]);
            folders_.push_back(folder);
        }
        return count == 0 ? root_ : folders_.back();
    }

  private:
    void close_from(size_t keep) {
        while (folders_.size() > keep) {
            platform_folder_close(folders_.back());
            folders_.pop_back();
            names_.pop_back();
        }
    }

    PlatformFolder root_;
    std::string shown_root_;
    std::vector<std::string> names_;
    std::vector<PlatformFolder> folders_;
};

// Writes one entry beside its destination, name in the held folder, and
// moves it into place when whole: a damaged entry or a full disk leaves the
// old file as it was, and a link at the destination is replaced, never
// written through.
EntryReadResult write_entry(FileSystem* fs, const ListedEntry& entry, PlatformFolder folder,
                            const std::string& shown_folder, const std::string& name,
                            bool& created) {
    WorkFile work;
    created = work_file_create_in(&work, folder, shown_folder.c_str(), name.c_str());
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

// "/a/b" for "/a/b/c.txt".
std::string folder_of(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// True when path lies in (or is) a folder that could not be made.
bool blocked_below(const std::string& path, const std::vector<std::string>& blocked) {
    for (const std::string& folder : blocked) {
        if (path.compare(0, folder.size(), folder) == 0 &&
            (path.size() == folder.size() || path[folder.size()] == '/')) {
            return true;
        }
    }
    return false;
}

struct ExtractCounts {
    uint64_t files = 0;
    size_t refused = 0;
    size_t damaged = 0;
    size_t failed = 0;
};

int command_extract(const Arguments& args, Console& console) {
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
        patterns.push_back(as_archive_pattern(pattern));
    }
    std::vector<bool> matched(patterns.size(), false);
    drop_trailing_separators(root);
    if (!is_directory(root) && !platform_make_dir(root.c_str())) {
        print_error(console, "extract: cannot create the folder " + args.value("-C", root) + ": " +
                                 os_reason());
        return EXIT_USAGE;
    }
    PlatformFolder root_folder = platform_folder_open(root.c_str());
    if (root_folder == PLATFORM_INVALID_FOLDER) {
        print_error(console, "extract: cannot open the folder " + args.value("-C", root) + ": " +
                                 os_reason());
        return EXIT_USAGE;
    }
    HeldFolders held(root_folder, root);
    int status = EXIT_OK;
    FileSystemPtr fs = open_archive_for_command(console, args.positional[0], archive_path, status);
    if (!fs) {
        return status;
    }

    std::vector<ListedEntry> entries = list_archive(fs.get());
    uint64_t files_total = 0;
    uint64_t bytes_total = 0;
    for (const ListedEntry& entry : entries) {
        if (!entry.directory && matches_any(entry.path, patterns, matched)) {
            ++files_total;
            bytes_total += entry.size;
        }
    }
    ProgressBar progress(console, "extract", files_total, bytes_total);
    ExtractCounts counts;
    std::vector<std::string> blocked; // archive folders that could not be made
    uint64_t bytes_done = 0;
    for (const ListedEntry& entry : entries) {
        if (!matches_any(entry.path, patterns, matched) || (entry.directory && !patterns.empty())) {
            continue;
        }
        std::string shown = to_console(entry.path);
        if (archive_path_has_empty_name(entry.path.c_str())) {
            // The archive's writer lost its name: nothing to call the file.
            print_error(console, "note: skipped " + to_console_path(entry.path) +
                                     ": its name in the archive is empty");
            continue;
        }
        std::vector<std::string> components;
        std::string why;
        if (!split_safe_path(entry.path, components, why)) {
            ++counts.refused;
            print_error(console, "refused " + shown + ": " + why);
            continue;
        }
        std::string target;
        size_t folders = entry.directory ? components.size() : components.size() - 1;
        if (blocked_below(entry.path, blocked)) {
            ++counts.failed; // said once, for the folder
            continue;
        }
        PlatformFolder folder = held.open(components, folders, target, why);
        if (folder == PLATFORM_INVALID_FOLDER) {
            // A folder that cannot be made fails every entry below it the
            // same way: it is named once, and its entries are skipped.
            ++counts.failed;
            int code = platform_error_code();
            print_error(console, "cannot extract " + shown + ": " + why);
            if (platform_error_is_denied(code)) {
                break; // the target refuses us: nothing further would land
            }
            blocked.push_back(entry.directory ? entry.path : folder_of(entry.path));
            continue;
        }
        if (entry.directory) {
            continue;
        }
        std::string shown_folder = target;
        target += platform_separator();
        target += components.back();
        bool created = false;
        EntryReadResult result =
            write_entry(fs.get(), entry, folder, shown_folder, components.back(), created);
        if (!created) {
            ++counts.failed;
            int code = platform_error_code();
            print_error(console, "cannot create " + to_console(target) + ": " + os_reason());
            if (platform_error_is_denied(code)) {
                break; // the target refuses us: nothing further would land
            }
            continue;
        }
        if (result.sink_failed) {
            ++counts.failed;
            print_error(console, "cannot write " + to_console(target) + ": " + os_reason());
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
    std::fprintf(console.out, "extracted %s to %s",
                 text_count_of(counts.files, "file", "files").c_str(), to_console(root).c_str());
    if (counts.refused || counts.damaged || counts.failed) {
        std::fprintf(console.out, " (%zu refused, %zu damaged, %zu failed)", counts.refused,
                     counts.damaged, counts.failed);
    }
    std::fputc('\n', console.out);
    if (counts.failed) {
        return EXIT_USAGE;
    }
    // As tar does: a name asked for that is not there is an error.
    bool unmatched = false;
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (!matched[i]) {
            print_error(console,
                        args.positional[0] + ": no entry matches '" + args.positional[i + 1] + "'");
            unmatched = true;
        }
    }
    if (unmatched) {
        return EXIT_DAMAGED;
    }
    return counts.refused || counts.damaged ? EXIT_DAMAGED : EXIT_OK;
}

} // namespace

const CommandDefinition EXTRACT_COMMAND = {
    .help = HELP,
    .flags = {},
    .valued = {"-C"},
    .needs = {.least = 1, .give = "an ARCHIVE"},
    .run = command_extract,
};
