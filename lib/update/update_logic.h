// The updater's decisions and its update procedure, behind a small view
// interface: the Windows dialog, the terminal view of "epk2 update" and the
// tests' recording view all implement it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_builder.h"
#include "platform/platform.h"

struct FileSystem;
struct DirEntry;
struct Stream;
struct WorkFile;

// Controls of dialog 101 that the logic touches.
constexpr int CONTROL_ACTION = 1; // the action button (its label and enabled state)
constexpr int CONTROL_CLOSE = 2;
constexpr int CONTROL_INSTALL_FOLDER = 1001;
constexpr int CONTROL_PROGRESS = 1002;
constexpr int CONTROL_INSTALLED_VERSION = 1004;
constexpr int CONTROL_BROWSE = 1005;
constexpr int CONTROL_PATCH_VERSION = 1007;
constexpr int CONTROL_STATUS = 1008;

// The few dialog operations the logic needs. Texts are code page 932.
class UpdaterView {
  public:
    virtual ~UpdaterView() = default;
    // The install-folder field (control 1001), at most 259 bytes.
    virtual std::string install_folder() = 0;
    // Sets the text of control 1004, 1007, 1008 or the action button's label (1).
    virtual void set_text(int control, const char* text) = 0;
    virtual void enable_action(bool enabled) = 0;
    // The updater's own executable path (GetModuleFileNameA).
    virtual std::string module_path() = 0;
    // Called after each file the merge writes (index from 0, total files).
    // The first call after run_update has reset ProgressRangeSet sets the
    // bar's range to total and sets ProgressRangeSet to 1.
    virtual void progress(uint32_t index, uint32_t total) = 0;

    // Optional. Why the install-folder field names no folder the library can
    // reach although it holds text: the dialog's field is UTF-16, and a
    // folder with no code page 932 form is refused, never changed into
    // another. Empty (the default) when install_folder() is the folder.
    virtual std::string install_folder_unusable() { return {}; }
    // Optional. The patch archive to apply; empty (the default) means
    // "Patch.dat" in the folder of module_path().
    virtual std::string patch_archive() { return {}; }
    // Optional. One line saying why a step of the update failed, for views
    // that keep a log; the dialog shows only the status line.
    virtual void detail(const char* text) {}
    // Optional. The publisher's public key (the PEM text of its .pub file):
    // a patch is then applied only with its signature (see
    // patch_signature.h) made by that key over exactly its bytes. Empty (the
    // default): patches apply unsigned, and a signature file is ignored.
    virtual std::string patch_public_key() { return {}; }
    // Optional. Runs work(context), which may take seconds (hashing a large
    // patch), and returns when it has ended. The dialog runs it on another
    // thread and goes on answering its messages meanwhile; the default runs
    // it here.
    virtual void run_long(void (*work)(void*), void* context) { work(context); }
};

constexpr int ACTION_MODE_LAUNCH = 0;
constexpr int ACTION_MODE_UPDATE = 1;

// What the action button does: update (1, at start) or launch (0).
extern int ActionMode;
// 0 until the progress bar's range has been set for the running update.
extern int ProgressRangeSet;

// How long a second update in the same install folder waits for the first.
constexpr uint32_t UPDATE_LOCK_WAIT_MS = 2000;

// The steps of an update that touch the install folder's files, each on a
// work file (see stream/work_file.h): the merged archive, written as
// "Tessavane.tmp" for "Tessavane.dat", and each loose file, written as
// "Tessavane.part". Tests replace them to make each one fail; everyone else
// uses the defaults.
struct UpdateSteps {
    // Pushes a written work file to the device before it replaces another.
    bool (*sync_file)(WorkFile* work);
    // Puts the work file in its destination's place in one step: afterwards
    // the destination names either the old or the new file, never neither.
    bool (*replace_file)(WorkFile* work);
    // The stream a loose file is written through.
    Stream* (*create_file)(WorkFile* work);
    // Where the archive builder's closing lines go; null for nowhere.
    FILE* merge_log;
    // Called with the patch's path once the patch is open and its signature
    // checked, just before the merge reads it; null for nothing. Tests swap
    // the patch file here: the merge must still read what was checked.
    void (*patch_opened)(const char* patch_path);
    // Takes the install folder's lock (platform_folder_lock_acquire).
    PlatformFile (*lock_folder)(const char* folder, const char* lock_file, uint32_t wait_ms,
                                bool* busy);
};

// The steps the updater uses: work_file_sync, work_file_commit and
// work_file_stream, the builder's lines on standard output and the
// platform's folder lock.
UpdateSteps default_update_steps();

// Reads both archives' versions and decides what the action button does.
// With a public key (UpdaterView::patch_public_key), a patch that could be
// applied is first checked against its signature; one that is unsigned or
// signed otherwise is refused (TEXT_SIGNATURE_UNVERIFIED).
void refresh_versions(UpdaterView* view);
// Merges the patch into the installed data, writes the loose files of
// "/_extract" and replaces the installed data archive. True when the update
// completed; on any failure the installed data archive is left as it was.
//
// The install folder is locked first. Then one snapshot of the patch is
// taken (platform_file_snapshot): the file refresh_versions holds open where
// that refuses writers, else a private copy. Its signature is checked, the
// decision table is read again from it and the merge reads it, so the bytes
// checked, decided on and applied are the same. When the decision now says
// otherwise than "update possible", it shows as refresh_versions would show
// it and nothing is updated; so too, after a refresh, when the patch's name
// no longer names the file held open.
//
// Where the lock is held by another run it waits UPDATE_LOCK_WAIT_MS and
// ends with TEXT_OVERWRITE_FAILED; where it cannot be made at all (a folder
// nothing may be created in) it ends with TEXT_INTERMEDIATE_FAILED, as it
// would a moment later for the intermediate archive.
bool run_update(UpdaterView* view);
bool run_update(UpdaterView* view, const UpdateSteps& steps);
// Lets go of the patch file refresh_versions keeps open; the dialog calls it
// when it ends, tests when they remove the patch.
void release_held_patch();

// How the update's merge runs the builder: its closing lines to log (null
// for nowhere), deflating on every core, and the installed data (the second
// source) carried over as they lie, unchecked. The patch's entries are
// always checked.
BuilderOptions update_merge_options(FILE* log);

// Opens the archive a work file holds through the handle that wrote it, so
// that what is read back is what was written, whatever its path names now.
// Null when it is no archive.
FileSystem* update_open_written_archive(WorkFile* work);

// Builds the intermediate archive at output_path from the patch (which wins)
// and the installed data. True when a complete archive was written; on
// failure nothing is left at output_path and error (when given) says why.
bool merge_archives(const char* output_path, const char* patch_path, const char* data_path,
                    void* context, ProgressCallback callback, FILE* log = stdout,
                    std::string* error = nullptr);
// The same into output (an empty stream that stays the caller's). Both
// archives are opened once, here, and read only through those handles until
// the merge ends; one whose size changes meanwhile fails the merge.
bool merge_archives_into(Stream* output, const char* patch_path, const char* data_path,
                         void* context, ProgressCallback callback, FILE* log, std::string* error);
// The same from a patch archive that is already open (null: none) and stays
// the caller's; the installed data are opened here.
bool merge_archives_into(Stream* output, FileSystem* patch, const char* data_path, void* context,
                         ProgressCallback callback, FILE* log, std::string* error);

// The extraction folder, opened once (by the update when it takes the
// install folder's lock, else at the first loose file) and closed with the
// context: every loose file is made and renamed within that one folder,
// whatever its path comes to name meanwhile.
class HeldExtractionFolder {
  public:
    HeldExtractionFolder() = default;
    ~HeldExtractionFolder() { platform_folder_close(handle); }
    HeldExtractionFolder(const HeldExtractionFolder&) = delete;
    HeldExtractionFolder& operator=(const HeldExtractionFolder&) = delete;
    PlatformFolder handle = PLATFORM_INVALID_FOLDER;
};

// What extract_record works with and what it found.
struct ExtractionContext {
    FileSystem* archive;      // the merged archive (for extract_record)
    const char* folder;       // the extraction folder, trailing separator included
    const char* partial_path; // where a loose file is written before it moves
    const UpdateSteps* steps;
    uint32_t written = 0;            // loose files written
    std::vector<std::string> failed; // "name: why" of each entry not written
    HeldExtractionFolder held;       // the folder, once opened
};

// ArchiveRecordCallback copying one file below "/_extract" of
// context.archive into the extraction folder under its last name component
// (context: an ExtractionContext), from the record the enumeration hands
// along. After the first failure it writes nothing more.
struct ArchiveEntryInfo;
void extract_record(void* context, const DirEntry* entry, const ArchiveEntryInfo* info);
