// "epk2 diff OLD NEW -o PATCH": the smallest patch that turns OLD into NEW,
// refused where the updater would refuse it, and proved by applying it to
// OLD as the updater does before it is kept. The library makes the patch;
// this file reads the command line and prints what it reports.
#include <algorithm>
#include <cinttypes>
#include <memory>

#include "cli/cli.h"
#include "commands/commands.h"
#include "platform/platform.h"
#include "update/patch/diff_plan.h"

namespace {

// A value the updater reads back whole from a line of info.txt.
constexpr size_t INFO_VALUE_MAX = 200;

struct DiffOptions : DiffRequest {
    std::string old_path, new_path; // code page 932
    bool has_output = false;
    bool json = false;
};

// The patch's path inside folder ("/Patch.dat"), when it lies there: it and
// its work files are not part of the data.
std::vector<std::string> output_inside(const std::string& folder, const DiffOptions& options) {
    return options.has_output ? path_inside(folder, options.output_path)
                              : std::vector<std::string>{};
}

bool valid_info_value(const std::string& value) {
    for (char c : value) {
        if (c == '\r' || c == '\n' || c == '=') {
            return false;
        }
    }
    return value.size() <= INFO_VALUE_MAX;
}

int parse_options(const Arguments& args, Console& console, DiffOptions& options) {
    options.dry_run = args.has("--dry-run");
    options.has_output = args.has("-o");
    options.strict = args.has("--strict");
    options.json = args.has("--json");
    options.output_display = to_console_from_terminal(args.value("-o", "PATCH"));
    if (!argument_to_library(console, args.positional[0], options.old_path) ||
        !argument_to_library(console, args.positional[1], options.new_path) ||
        (options.has_output &&
         !argument_to_library(console, args.value("-o"), options.output_path))) {
        return EXIT_USAGE;
    }
    for (const auto& [name, value] : args.options) {
        if (name == "--extract") {
            std::string pattern;
            if (!argument_to_library(console, value, pattern)) {
                return EXIT_USAGE;
            }
            options.patterns.push_back(pattern);
        }
    }
    auto info_value = [&](const char* flag, bool& has, std::string& text) {
        has = args.has(flag);
        if (!has) {
            return true;
        }
        if (!argument_to_library(console, args.value(flag), text)) {
            return false;
        }
        if (!valid_info_value(text)) {
            print_error(console, std::string("diff: ") + flag +
                                     " takes one line of at most 200 bytes without \"=\"");
            return false;
        }
        return true;
    };
    if (!info_value("--version", options.has_version, options.version) ||
        !info_value("--attribute", options.has_attribute, options.attribute)) {
        return EXIT_USAGE;
    }
    if (options.has_version && options.version.empty()) {
        print_error(console, "diff: --version needs a value");
        return EXIT_USAGE;
    }
    if (options.has_output) {
        if (options.output_path == options.old_path || options.output_path == options.new_path) {
            print_error(console, "diff: -o names OLD or NEW itself; write the patch elsewhere");
            return EXIT_USAGE;
        }
        uint32_t attributes = platform_attributes(options.output_path.c_str());
        if (attributes != PLATFORM_ATTRIBUTES_INVALID &&
            (attributes & PLATFORM_ATTRIBUTE_DIRECTORY)) {
            print_error(console, options.output_display + ": is a folder; -o names the patch file");
            return EXIT_USAGE;
        }
    }
    return EXIT_OK;
}

uint64_t bytes_of(const std::vector<const TreeEntry*>& files) {
    uint64_t total = 0;
    for (const TreeEntry* file : files) {
        total += file->size;
    }
    return total;
}

void print_json_files(Console& console, const char* name,
                      const std::vector<const TreeEntry*>& files, const Tree* old_tree) {
    std::fprintf(console.out, ",\n  \"%s\": [", name);
    const char* separator = "";
    for (const TreeEntry* file : files) {
        std::fprintf(console.out, "%s\n    {\"path\": \"%s\", \"size\": %" PRIu32, separator,
                     to_json_string(file->path).c_str(), file->size);
        if (old_tree) {
            std::fprintf(console.out, ", \"old_size\": %" PRIu32, old_tree->file(file->path)->size);
        }
        std::fputs("}", console.out);
        separator = ",";
    }
    std::fputs(files.empty() ? "]" : "\n  ]", console.out);
}

void print_json(Console& console, const DiffOptions& options, const Tree& old_tree,
                const Tree& target, const DiffChanges& changes, const DiffOutcome& outcome) {
    auto side = [&](const Tree& tree) {
        size_t files = tree.files.size();
        std::fprintf(console.out,
                     "{\"path\": \"%s\", \"kind\": \"%s\", \"files\": %zu, \"bytes\": %" PRIu64 "}",
                     to_json_string(tree.library_path).c_str(),
                     tree.is_archive ? "archive" : "folder", files, tree.file_bytes);
    };
    std::fputs("{\n  \"old\": ", console.out);
    side(old_tree);
    std::fputs(",\n  \"new\": ", console.out);
    side(target);
    std::fprintf(
        console.out,
        ",\n  \"patch\": {\"path\": \"%s\", \"written\": %s, \"files\": %zu, "
        "\"version\": \"%s\", \"attribute\": \"%s\"",
        options.has_output ? to_json_string(options.output_path).c_str() : "",
        outcome.written ? "true" : "false",
        static_cast<size_t>(std::count_if(outcome.items.begin(), outcome.items.end(),
                                          [](const PatchItem& item) { return !item.directory(); })),
        to_json_string(outcome.info.version).c_str(),
        to_json_string(outcome.info.attribute).c_str());
    if (outcome.written) {
        std::fprintf(console.out, ", \"directories\": %" PRIu32 ", \"bytes\": %" PRIu32,
                     outcome.patch_dirs, outcome.patch_bytes);
    }
    std::fputs("}", console.out);
    print_json_files(console, "changed", changes.changed, &old_tree);
    print_json_files(console, "added", changes.added, nullptr);
    print_json_files(console, "removed", changes.removed, nullptr);
    std::fputs(",\n  \"removed_folders\": [", console.out);
    for (size_t i = 0; i < changes.removed_folders.size(); ++i) {
        std::fprintf(console.out, "%s\"%s\"", i ? ", " : "",
                     to_json_string(changes.removed_folders[i]).c_str());
    }
    std::fputs("],\n  \"extract\": [", console.out);
    for (size_t i = 0; i < changes.copies.size(); ++i) {
        const PatchItem& copy = changes.copies[i];
        std::fprintf(console.out,
                     "%s\n    {\"path\": \"%s\", \"from\": \"%s\", \"size\": %" PRIu32 "}",
                     i ? "," : "", to_json_string(copy.path).c_str(),
                     to_json_string(copy.from->path).c_str(), copy.from->size);
    }
    std::fprintf(console.out, "%s,\n  \"unchanged\": %zu,\n  \"proof\": ",
                 changes.copies.empty() ? "]" : "\n  ]", changes.unchanged);
    if (outcome.written) {
        std::fprintf(console.out, "{\"changed\": %zu, \"added\": %zu, \"removed\": %zu}\n}\n",
                     changes.changed.size(), changes.added.size(), outcome.stays);
    } else {
        std::fputs("null\n}\n", console.out);
    }
}

void print_text(Console& console, const DiffOptions& options, const DiffChanges& changes,
                const DiffOutcome& outcome, const std::string& old_display,
                const std::string& new_display) {
    size_t files =
        static_cast<size_t>(std::count_if(outcome.items.begin(), outcome.items.end(),
                                          [](const PatchItem& item) { return !item.directory(); }));
    if (outcome.written) {
        std::fprintf(console.out, "%s: %s in %s, %s\n", options.output_display.c_str(),
                     text_count_of(outcome.patch_files, "file", "files").c_str(),
                     text_count_of(outcome.patch_dirs, "directory", "directories").c_str(),
                     format_bytes(outcome.patch_bytes).c_str());
    } else {
        std::fprintf(console.out, "dry run: nothing written or proved; the patch would hold %s\n",
                     text_count_of(files, "file", "files").c_str());
    }
    std::fprintf(console.out,
                 "%zu changed (%s), %zu added (%s), %zu unchanged; info.txt: version %s, "
                 "attribute %s\n",
                 changes.changed.size(), format_bytes(double(bytes_of(changes.changed))).c_str(),
                 changes.added.size(), format_bytes(double(bytes_of(changes.added))).c_str(),
                 changes.unchanged, to_console(outcome.info.version).c_str(),
                 to_console(outcome.info.attribute).c_str());
    if (!changes.copies.empty()) {
        std::fprintf(console.out, "%s also under /_extract\n",
                     text_count_of(changes.copies.size(), "changed file", "changed files").c_str());
    }
    if (!changes.removed.empty() || !changes.removed_folders.empty()) {
        std::fprintf(console.out, "%s and %s of OLD stay after the update\n",
                     text_count_of(changes.removed.size(), "file", "files").c_str(),
                     text_count_of(changes.removed_folders.size(), "folder", "folders").c_str());
    }
    if (outcome.written) {
        std::fprintf(console.out,
                     "applying %s to %s gives %s: %zu files changed, %zu added, %zu removed\n",
                     options.output_display.c_str(), old_display.c_str(), new_display.c_str(),
                     changes.changed.size(), changes.added.size(), outcome.stays);
    }
}

// Where the library's reports go: its progress on a bar, a bar a stage, and
// its messages to standard error.
struct DiffConsole {
    Console* console;
    ProgressOnBar bar;
};

void on_progress(void* context, const UpdateProgress* progress) {
    ProgressOnBar::on_progress(&static_cast<DiffConsole*>(context)->bar, progress);
}

void on_message(void* context, DiffMessageKind kind, const std::string& text) {
    Console& console = *static_cast<DiffConsole*>(context)->console;
    print_error(console, kind == DIFF_MESSAGE_WARNING ? "warning: " + text : text);
}

int exit_status(DiffStatus status) {
    switch (status) {
    case DIFF_OK:
        return EXIT_OK;
    case DIFF_REFUSED:
        return EXIT_DAMAGED;
    case DIFF_FAILED:
        break;
    }
    return EXIT_USAGE;
}

// Opens OLD or NEW: an archive, opened as every command opens one, or a
// folder, walked as pack walks it.
int open_side(Console& console, const DiffReporter& reporter, const std::string& display,
              const std::string& library_path, const std::vector<std::string>& leave_out,
              bool unrepresentable_fail, Tree& tree) {
    tree.display = to_console_from_terminal(display);
    tree.library_path = library_path;
    uint32_t attributes = platform_attributes(library_path.c_str());
    if (attributes == PLATFORM_ATTRIBUTES_INVALID || !(attributes & PLATFORM_ATTRIBUTE_DIRECTORY)) {
        int status = EXIT_OK;
        tree.fs = open_archive_for_command(console, display, library_path, status);
        if (!tree.fs) {
            return status;
        }
        tree_list_archive(tree);
        return EXIT_OK;
    }
    std::string folder = library_path;
    drop_trailing_separators(folder);
    return exit_status(tree_open_folder(tree, folder, leave_out, unrepresentable_fail, reporter));
}

int command_diff(const Arguments& args, Console& console) {
    DiffOptions options;
    if (int status = parse_options(args, console, options)) {
        return status;
    }
    // The library's own messages are not for the user: each failure is
    // reported here, with its reason.
    MessageCapture quiet;
    DiffConsole shown{&console, ProgressOnBar(console)};
    DiffReporter reporter;
    reporter.context = &shown;
    reporter.progress = on_progress;
    reporter.message = on_message;
    reporter.shown = to_console;
    Tree old_tree;
    Tree target;
    if (int status = open_side(console, reporter, args.positional[0], options.old_path,
                               output_inside(options.old_path, options), false, old_tree)) {
        return status;
    }
    if (int status = open_side(console, reporter, args.positional[1], options.new_path,
                               output_inside(options.new_path, options), true, target)) {
        return status;
    }
    DiffResult result;
    if (DiffStatus status = diff_make(options, old_tree, target, reporter, result)) {
        return exit_status(status);
    }
    if (options.json) {
        print_json(console, options, old_tree, target, result.changes, result.outcome);
    } else {
        print_text(console, options, result.changes, result.outcome, old_tree.display,
                   target.display);
    }
    return std::ferror(console.out) ? EXIT_USAGE : EXIT_OK;
}

const char* const HELP =
    "Usage: epk2 diff OLD NEW -o PATCH [--version V] [--attribute A]\n"
    "                 [--extract PATTERN]... [--strict] [--json] [--dry-run]\n"
    "\n"
    "Writes PATCH, a patch archive that turns OLD into NEW when the updater\n"
    "applies it, holding only what changed. OLD and NEW are each a folder\n"
    "(read as pack reads it) or an archive, in any combination: typically OLD\n"
    "is the Tessavane.dat you shipped, or the folder you packed it from, and\n"
    "NEW the folder of the next version.\n"
    "\n"
    "The patch holds every file of NEW that OLD lacks or holds with other\n"
    "content, and NEW's info.txt and _config.txt whether they changed or not:\n"
    "the updater reads the new version from the one and the packing rules of\n"
    "its merge from the other. Files are compared by their bytes, never by\n"
    "their times; two archive entries stored alike are compared by their\n"
    "stored bytes, without inflating them. Files whose path contains \".svn\"\n"
    "are left out, as pack leaves them out.\n"
    "\n"
    "Proof: before PATCH is kept, diff applies it to OLD as the updater does\n"
    "and compares every file of the result with NEW's, content by content:\n"
    "\n"
    "  applying PATCH to OLD gives NEW: 12 files changed, 3 added, 1 removed\n"
    "\n"
    "If any file differs, nothing is left at PATCH and the exit status is 2.\n"
    "For an archive OLD the updater's merge is written to a work file beside\n"
    "PATCH and removed after. For a folder OLD it is replayed instead: the\n"
    "merge's own builder decides for each file of the result whether it is\n"
    "the patch's or OLD's, and the file is read from there; writing it would\n"
    "deflate all of OLD anew only to inflate it again.\n"
    "\n"
    "A patch can add and replace files but never delete one: a file or folder\n"
    "of OLD that NEW lacks stays after the update. Each is named in a warning\n"
    "(\"stays after the update: /path\") and counted as removed above; the\n"
    "proof then checks NEW's files only.\n"
    "\n"
    "Two more warnings name what the proof cannot see:\n"
    "  - a path that is a file in OLD and a folder in NEW, or the other way\n"
    "    round: the updated data hold both, and extracting them fails;\n"
    "  - files below /_extract whose last names are the same (ASCII case\n"
    "    aside, as Windows compares them): the updater copies every one into\n"
    "    the install folder under that name, and only the last one stays.\n"
    "\n"
    "The updater refuses a patch whose version is not higher than the\n"
    "installed one (versions compare as decimal numbers: 1.9 is newer than\n"
    "1.10) or whose attribute differs from the installed one's. diff refuses\n"
    "such a patch too, with the updater's own words, before writing anything.\n"
    "\n"
    "  -o PATCH           the patch to write (replaced only once it is proved)\n"
    "  --version V        give the patch an info.txt with version=V; NEW's\n"
    "                     other lines (identifer, attribute) are kept\n"
    "  --attribute A      the same for attribute=A\n"
    "  --extract PATTERN  also put each changed file whose path matches\n"
    "                     PATTERN under /_extract by its last name, so that\n"
    "                     the updater copies it into the install folder\n"
    "                     (repeatable; * and ? as for epk2 extract; never\n"
    "                     info.txt or _config.txt). Changed files below NEW's\n"
    "                     own _extract/ travel there anyway.\n"
    "  --strict           fail (status 1), writing nothing, when anything of\n"
    "                     OLD would stay after the update, a path is a file\n"
    "                     on one side and a folder on the other, or two\n"
    "                     loose files would take one name\n"
    "  --json             the summary as one JSON object: changed, added and\n"
    "                     removed files with their sizes (paths in UTF-8)\n"
    "  --dry-run          compare and print the summary only: the patch is\n"
    "                     neither written nor proved (-o may be left out)\n"
    "\n"
    "Exit status: 0 the patch is written and proved; 1 the updater would\n"
    "refuse it, --strict found one of the warnings above, or an archive is\n"
    "damaged; 2 the proof failed, or a usage or input/output error.\n"
    "\n"
    "Examples: epk2 diff Tessavane.dat data -o Patch.dat\n"
    "          epk2 diff release-1.00 release-1.01 -o Patch.dat --strict\n"
    "          epk2 diff old.dat new.dat -o Patch.dat --version 1.02 \\\n"
    "               --extract '/tools/*.exe'\n"
    "          epk2 diff old new --dry-run --json > changes.json\n";

} // namespace

const CommandDefinition DIFF_COMMAND = {
    .help = HELP,
    .flags = {"--strict", "--json", "--dry-run"},
    .valued = {"-o", "--version", "--attribute", "--extract"},
    .needs = {.least = 2,
              .most = 2,
              .give = "OLD, NEW and -o PATCH",
              .option = "-o",
              .unless = "--dry-run"},
    .run = command_diff,
};
