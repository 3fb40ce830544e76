// The updater's decisions and its update procedure, behind a small view
// interface: the Windows dialog, the terminal view of "epk2 update" and the
// tests' recording view all implement it.
#pragma once

#include <cstdint>
#include <string>

#include "archive/archive_builder.h"

struct FileSystem;
struct DirEntry;

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
    // Called after each file the merge writes; the dialog drives its
    // progress bar from it.
    virtual void progress(uint32_t index, uint32_t total) = 0;
};

constexpr int ACTION_MODE_LAUNCH = 0;
constexpr int ACTION_MODE_UPDATE = 1;

// What the action button does: update (1, at start) or launch (0).
extern int ActionMode;
// 0 until the progress bar's range has been set for the running update.
extern int ProgressRangeSet;

void refresh_versions(UpdaterView* view);
void run_update(UpdaterView* view);
// Builds the intermediate archive; true when a complete archive was written.
bool merge_archives(const char* output_path, const char* patch_path, const char* data_path,
                    void* context, ProgressCallback callback);
// EnumCallback copying one file below "/_extract" into the extraction folder
// (context: an ExtractionContext).
int extract_entry(void* context, FileSystem* fs, DirEntry* entry);
