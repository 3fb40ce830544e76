// The kit beneath the commands, in one interface: where a command writes
// and how text reaches the terminal, the command line and what a command
// declares about it, progress, archive opening, keys and the builder's runs.
// Its parts are implemented in the small files beside this one; the
// commands (commands/) and the table of them (main.cpp) include this header
// alone.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_fs.h"
#include "archive/entry_read.h"
#include "fs/filesystem_ptr.h"
#include "support/text_count.h"
#include "update/update_logic.h"
#include "update/update_progress.h"

// --- console -----------------------------------------------------------------

// Where a command writes, the exit statuses every command shares, and how a
// command says what went wrong.

// Exit statuses shared by every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_DAMAGED = 1; // an archive is damaged, or the update was refused
constexpr int EXIT_USAGE = 2;   // bad command line, or an input/output error

// Where a command writes. Tests hand in temporary files; main() the
// standard streams.
struct Console {
    FILE* out;
    FILE* err;
    bool err_is_terminal; // progress bars only on a terminal
};

// "epk2: " + text (code page 932 parts already converted) + line feed.
void print_error(Console& console, const std::string& text);

// The operating system's words for the last failure ("Permission denied"),
// taken right after the failing call.
std::string os_reason();

// --- console text ------------------------------------------------------------

// Library text is code page 932. The terminal and the command line speak
// UTF-8 on Linux and the ANSI code page (932 on a Japanese system) on
// Windows, so text is converted where it enters and leaves the tool.

// For display: bytes that have no form in the terminal's encoding come out as
// \xNN escapes, so a damaged name is still shown and never garbles the line.
// Control characters (below 0x20, 0x7F, and whatever becomes a C1 control)
// are escaped too, "\n", "\r" and "\t" by name and the others as \xNN, so
// a name can neither act on the terminal nor start a line of its own.
std::string to_console(const std::string& cp932);

// For display of text already in the terminal's encoding, such as an
// argument as the user typed it: control characters are escaped as
// to_console escapes them, and on Linux so is every byte that is not part of
// a valid UTF-8 character, so an argument cannot act on the terminal either.
// Text that went through to_console comes out unchanged.
std::string to_console_from_terminal(const std::string& text);

// An archive path for display, as to_console shows it, with each empty name
// below the root shown as "" (quotes included): a record whose stored name
// is empty would otherwise look like a folder ("/data/") or vanish. "/" is
// such a record at the top (the root itself is never listed).
std::string to_console_path(const std::string& cp932_path);

// For library calls: false when the text has no code page 932 form.
bool from_console(const std::string& text, std::string& cp932);

// JSON string body (without quotes) of a code page 932 text, as UTF-8.
std::string to_json_string(const std::string& cp932);

// --- wide console ------------------------------------------------------------

// Japanese on any Windows console. The tool's text is code page 932; a pipe
// or a file gets those bytes as they are (what Windows tools write), but a
// console shows them right only when its own code page is 932. So when a
// standard stream is a console, its bytes go through a pipe to a thread that
// converts them to UTF-16 and writes them with WriteConsoleW.

// How many of the first count bytes end on a whole code page 932
// character: a lead byte at the very end waits for its trail byte.
size_t cp932_whole_characters(const char* data, size_t count);

#ifdef _WIN32
// Reroutes file (stdout or stderr) when it is a console; false, changing
// nothing, when it is not. Call wide_console_finish before the process ends.
bool wide_console_attach(FILE* file);
// Flushes the rerouted streams and waits until their text is on the console.
void wide_console_finish();
#endif

// --- figures -----------------------------------------------------------------

// Sizes as the commands print them (counts: text_count_of).

// Human-readable byte count ("12.3 MB").
std::string format_bytes(double bytes);

// --- paths -------------------------------------------------------------------

// Command-line paths in code page 932: how they end and where they lie.

// Drops the separators ("/" or "\\") that end a code page 932 path, all but
// a first character ("/" stays "/"). The byte 0x5C that ends "表" (0x95
// 0x5C) is that character's trail byte, not a separator.
void drop_trailing_separators(std::string& path);

// path's place inside folder ("/out.dat", with "/" between components)
// when it lies there, else nothing: a pack or diff output inside the folder
// it reads must not be read as data.
std::vector<std::string> path_inside(const std::string& folder, const std::string& path);

// --- message capture ---------------------------------------------------------

// The library's messages, collected while a command needs to say why the
// library refused something.

// Collects the library's messages while it lives, so that a command can say
// why the library refused something instead of printing them unasked.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    // The messages so far, without their "Error: " prefix and line feed.
    const std::vector<std::string>& messages() const { return messages_; }
    std::string last() const { return messages_.empty() ? std::string() : messages_.back(); }
    void clear() { messages_.clear(); }

  private:
    static void hook(intptr_t value, const char* text);
    std::vector<std::string> messages_;
    MessageCapture* previous_;
};

// --- arguments ---------------------------------------------------------------

// The words of one command line after the command's name.

// Parsed words of one command: positional arguments and options.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // name (with dashes), value
    bool has(const std::string& name) const;
    std::string value(const std::string& name, const std::string& fallback = "") const;
};

// Converts a command-line path to code page 932; prints an error and returns
// false when it has no such form.
bool argument_to_library(Console& console, const std::string& argument, std::string& path);

// --- command -----------------------------------------------------------------

// What a command declares about itself, and the one place that reads a
// command line against it: unknown options, missing values and the number
// of arguments are refused here, before any command runs.

// What a command cannot run without. A command line that lacks it is told
// "NAME: give ... (see epk2 NAME --help)" with the words below.
struct ArgumentNeeds {
    size_t least = 0;                  // positional arguments, at least
    size_t most = SIZE_MAX;            // and at most
    const char* give = "";             // what a wrong count (or a missing option) is told
    const char* option = nullptr;      // an option that must be given, or null
    const char* unless = nullptr;      // a flag that makes the option unnecessary
    const char* give_option = nullptr; // the missing option's own words, told
                                       // before the count is looked at; null:
                                       // it is told with the count's words
};

// A command as its own file defines it.
struct CommandDefinition {
    const char* help;                // text shown by "epk2 NAME --help"
    std::vector<std::string> flags;  // options without a value
    std::vector<std::string> valued; // options that take a value
    ArgumentNeeds needs;
    int (*run)(const Arguments& args, Console& console);
};

// One row of the tool's table of commands.
struct Command {
    const char* name;
    const char* summary; // one line of "epk2 --help"
    const CommandDefinition& definition;
};

// The tool as "epk2 --help" shows it: the commands, in the order listed,
// between a head and a tail of text.
struct ToolDefinition {
    const char* help_head;
    const char* help_tail;
    const char* version; // "epk2 --version"
    std::span<const Command> commands;
};

// Runs the command named by argv[1] (command-line text in the terminal's
// encoding) and gives its exit status.
int cli_run(const ToolDefinition& tool, int argc, char** argv, Console& console);

// --- process -----------------------------------------------------------------

// What every run of the tool does around its command: standard output in
// binary, Japanese on a Windows console of any code page, work files removed
// when the process is interrupted, and on Windows the command line taken in
// code page 932 from its UTF-16 form.

// Calls run with the arguments and the standard streams; gives its status.
int cli_process_main(int argc, char** argv, int (*run)(int argc, char** argv, Console& console));

// --- progress ----------------------------------------------------------------

// A one-line progress bar on standard error: files and bytes done, rate and
// time left. Quiet unless standard error is a terminal.

class ProgressBar {
  public:
    ProgressBar(Console& console, std::string label, uint64_t files_total, uint64_t bytes_total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void set_totals(uint64_t files_total, uint64_t bytes_total);
    // Called after each file; redraws at most ten times a second.
    void advance(uint64_t files_done, uint64_t bytes_done);
    // For work that counts items alone (an update's files, a patch's
    // steps): done of total, no byte figures.
    void count(uint64_t done, uint64_t total);
    // Draws the final state and ends the line.
    void finish();

  private:
    void draw(bool final_draw);

    Console& console_;
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    uint64_t files_total_, bytes_total_;
    uint64_t files_done_ = 0, bytes_done_ = 0;
    std::chrono::steady_clock::time_point start_, last_draw_;
};

// The library's progress records on a bar: one bar a stage, drawn from its
// BEGIN to its END. Hand on_progress with this adapter as its context to
// whatever reports an UpdateProgressCallback (a pack or merge through
// update_pack_reporting, a patch being made).
class ProgressOnBar {
  public:
    explicit ProgressOnBar(Console& console) : console_(console) {}
    static void on_progress(void* context, const UpdateProgress* progress);

  private:
    Console& console_;
    std::unique_ptr<ProgressBar> bar_;
};

// --- terminal view -----------------------------------------------------------

// The updater's view for the terminal: remembers the texts the update logic
// sets, takes the install folder and the patch from the command line and
// draws the merge's progress as a bar on standard error.

class TerminalView : public UpdaterView {
  public:
    // Both paths in code page 932; an empty patch means "Patch.dat" beside
    // the tool, as the dialog looks for it beside itself.
    TerminalView(Console& console, std::string install_folder, std::string patch_archive);

    std::string install_folder() override { return install_folder_; }
    void set_text(int control, const char* text) override { texts_[control] = text; }
    void enable_action(bool enabled) override { action_enabled_ = enabled; }
    std::string module_path() override;
    void progress(uint32_t index, uint32_t total) override;
    std::string patch_archive() override { return patch_archive_; }
    void detail(const char* text) override;
    std::string patch_public_key() override { return public_key_; }
    // The publisher's public key (PEM text) for --public-key.
    void set_public_key(std::string pem) { public_key_ = std::move(pem); }

    // The last text set on a control (code page 932), empty when none.
    std::string text(int control) const;
    bool action_enabled() const { return action_enabled_; }
    // Ends the progress bar's line, if one was drawn.
    void finish_progress();

  private:
    Console& console_;
    std::string install_folder_;
    std::string patch_archive_;
    std::string public_key_;
    std::map<int, std::string> texts_;
    bool action_enabled_ = false;
    std::unique_ptr<ProgressBar> bar_;
};

// --- archive open ------------------------------------------------------------

// Archives as the commands open and list them: owning handles, and a
// failure told once, naming the file and why.

// Opens an archive for reading; on failure prints why (naming the file) and
// sets status to EXIT_USAGE when the file cannot be opened at all and to
// EXIT_DAMAGED when it is not a readable archive.
FileSystemPtr open_archive_for_command(Console& console, const std::string& display_path,
                                       const std::string& library_path, int& status);

// For the commands whose first argument is the ARCHIVE: converts the name
// and opens the archive into fs. Gives EXIT_OK, or on failure prints why and
// gives EXIT_USAGE or EXIT_DAMAGED.
int open_first_archive(const Arguments& args, Console& console, FileSystemPtr& fs);

// One archive entry as the tools list it.
struct ListedEntry {
    std::string path; // code page 932, absolute ("/a/b")
    bool directory;
    uint32_t size;
    uint32_t attributes;
    ArchiveEntryInfo info; // the file's record; unset for a directory
};
// Every entry in archive order (directories before their contents).
std::vector<ListedEntry> list_archive(FileSystem* fs);

// --- keys --------------------------------------------------------------------

// Patch signatures on the command line: keygen, sign, and the --public-key
// checks of verify and update (see support/signature.h for the forms).

struct FileSystem;

// Reads the key file named on the command line (at most KEY_FILE_MAX_SIZE
// bytes) into text. On failure prints "epk2: COMMAND: FILE: why" and returns
// false.
bool read_key_file(Console& console, const char* command, const std::string& argument,
                   std::string* text);

// The check of "verify --public-key KEY": EXIT_OK when the option is absent
// or the publisher signed exactly the bytes of archive (ARCHIVE's .sig
// beside it); otherwise says why, naming the file at fault, and returns
// EXIT_DAMAGED (EXIT_USAGE when the key file cannot be read).
int verify_archive_signature(const Arguments& args, Console& console, FileSystem* archive);

// --- entry reader ------------------------------------------------------------

// The tool's way to read an entry to its end: the library's reader with a
// buffer of the tool's size.

EntryReadResult read_entry(FileSystem* fs, const ArchiveEntryInfo& info, const EntrySink& sink);
// The same by path; "not in the archive" when there is no such file.
EntryReadResult read_entry(FileSystem* fs, const std::string& path, const EntrySink& sink);

// --- builder run -------------------------------------------------------------

// Runs the archive builder for pack and merge: writes beside the output and
// moves the finished archive into place, shows progress, reports failures.

// The sources are closed before the new archive moves into place: on
// Windows an open source could not be replaced by it.
int run_builder(Console& console, const Arguments& args, const std::string& output_display,
                const std::string& output_path, FileSystemPtr first, FileSystemPtr second,
                const char* label);
