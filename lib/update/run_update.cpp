#include "archive/archive_fs.h"
#include "platform/platform.h"
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "update/patch_signature.h"
#include "update/update_decision.h"
#include "update/update_logic.h"
#include "update/update_paths.h"
#include "update/update_texts.h"

namespace {

int on_merge_progress(void* context, uint32_t index, uint32_t total) {
    static_cast<UpdaterView*>(context)->progress(index, total);
    return 1;
}

// Ends a failed update: the merged archive, if any, is of no further use,
// and the installed data archive has not been touched.
bool fail(UpdaterView* view, WorkFile* merged, const char* status, const std::string& why) {
    if (merged) {
        work_file_discard(merged);
    }
    if (!why.empty()) {
        view->detail(why.c_str());
    }
    view->set_text(CONTROL_STATUS, status);
    return false;
}

// Holds the install folder's update lock for one run.
class UpdateLock {
  public:
    UpdateLock(const UpdateSteps& steps, const UpdatePaths& paths) {
        lock_ = steps.lock_folder(paths.extraction_folder, paths.lock, UPDATE_LOCK_WAIT_MS, &busy_);
        if (lock_ == PLATFORM_INVALID_FILE) {
            error_ = platform_error_code();
        }
    }
    ~UpdateLock() { platform_folder_lock_release(lock_); }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

    bool held() const { return lock_ != PLATFORM_INVALID_FILE; }
    bool busy() const { return busy_; }
    int error() const { return error_; }

  private:
    PlatformFile lock_;
    bool busy_ = false;
    int error_ = 0;
};

// The one snapshot of the patch an update reads (see run_update): its
// version, its signature and the merge all come through this file, and the
// archive opened on it.
class PatchSnapshot {
  public:
    PatchSnapshot() = default;
    ~PatchSnapshot() { close(); }
    PatchSnapshot(const PatchSnapshot&) = delete;
    PatchSnapshot& operator=(const PatchSnapshot&) = delete;

    // Takes the file refresh_versions holds where that is the patch itself,
    // else a private copy. False when the held file is no longer the one the
    // name gives: the patch was exchanged after the dialog read it.
    bool take(const char* path) {
        file_ = take_held_patch(path);
        if (file_ && !platform_file_snapshot_is_original()) {
            shared_file_release(file_); // read before the lock: copy it anew
            file_ = nullptr;
        }
        if (file_) {
            return platform_file_is(shared_file_handle(file_), path);
        }
        // A patch that does not open is missing to the decision below.
        PlatformFile snapshot = platform_file_snapshot(path);
        if (snapshot == PLATFORM_INVALID_FILE) {
            char text[256];
            why_ = std::string(path) + ": " +
                   platform_error_text(platform_error_code(), text, sizeof text);
        }
        file_ = shared_file_adopt(snapshot, true, nullptr);
        return true;
    }
    SharedFile* file() const { return file_; }
    const std::string& why() const { return why_; }
    // The archive on the snapshot; null when it is none (or not open).
    FileSystem* archive(const char* path) {
        if (!archive_ && file_) {
            archive_ = archive_open_shared(file_, path, nullptr);
        }
        return archive_;
    }
    void close() {
        if (archive_) {
            fs_close(archive_);
            archive_ = nullptr;
        }
        shared_file_release(file_);
        file_ = nullptr;
    }

  private:
    SharedFile* file_ = nullptr;
    FileSystem* archive_ = nullptr;
    std::string why_;
};

std::string lock_failure(const UpdateLock& lock, const UpdatePaths& paths) {
    if (lock.busy()) {
        return "another update is running in this install folder";
    }
    char text[256];
    return std::string("cannot lock the install folder ") + paths.extraction_folder + ": " +
           platform_error_text(lock.error(), text, sizeof text);
}

} // namespace

bool run_update(UpdaterView* view) {
    return run_update(view, default_update_steps());
}

bool run_update(UpdaterView* view, const UpdateSteps& steps) {
    view->set_text(CONTROL_STATUS, TEXT_UPDATE_RUNNING);
    UpdatePaths paths;
    const std::string unusable = view->install_folder_unusable();
    if (!unusable.empty()) {
        return fail(view, nullptr, TEXT_SPECIFY_INSTALL_FOLDER, unusable);
    }
    if (!update_paths_form(view->install_folder(), view->module_path(), view->patch_archive(),
                           &paths)) {
        return fail(view, nullptr, TEXT_SPECIFY_INSTALL_FOLDER, "a path is too long");
    }

    // Two updates in one folder would write the same work files. A lock
    // that cannot be made at all means a folder nothing can be created in:
    // the intermediate archive's words say so.
    UpdateLock lock(steps, paths);
    if (!lock.held()) {
        return fail(view, nullptr, lock.busy() ? TEXT_OVERWRITE_FAILED : TEXT_INTERMEDIATE_FAILED,
                    lock_failure(lock, paths));
    }
    // The folder the loose files go to is opened together with the lock, not
    // after the merge: a folder swapped for a link while the merge runs then
    // no longer decides where they land. (What remains is the moment between
    // the lock's opening and this one, each by the folder's path.)
    ExtractionContext extraction{
        nullptr, paths.extraction_folder, paths.loose_partial, &steps, 0, {}, {}};
    extraction.held.handle = platform_folder_open(paths.extraction_folder);

    // Whatever refresh_versions read may since have been replaced: the
    // decision is made again, from the very bytes the merge will read.
    PatchSnapshot patch;
    if (!patch.take(paths.patch)) {
        patch.close();
        refresh_versions(view);
        view->detail((std::string(paths.patch) +
                      ": replaced after its version was read; read again, nothing updated")
                         .c_str());
        return false;
    }
    if (!decide_versions(view, paths.data, patch.file(), paths.patch)) {
        if (!patch.file()) {
            view->detail(patch.why().c_str());
        }
        return false;
    }
    view->set_text(CONTROL_STATUS, TEXT_UPDATE_RUNNING);

    // The merged archive is written as the intermediate archive; one left
    // behind by a crashed run (or planted) is removed, never written through.
    WorkFile merged;
    if (!work_file_create(&merged, paths.data, paths.intermediate)) {
        return fail(view, nullptr, TEXT_INTERMEDIATE_FAILED,
                    std::string("cannot create ") + paths.intermediate);
    }
    ProgressRangeSet = 0;
    std::string why;
    Stream* output = work_file_stream(&merged, nullptr);
    FileSystem* patch_archive = patch.archive(paths.patch);
    if (!patch_archive) {
        // It was read as an archive a moment ago, from the same bytes.
        if (output) {
            stream_close(output);
        }
        return fail(view, &merged, TEXT_INTERMEDIATE_FAILED,
                    std::string(paths.patch) + ": cannot be opened again");
    }
    if (steps.patch_opened) {
        steps.patch_opened(paths.patch);
    }
    bool built = output && merge_archives_into(output, patch_archive, paths.data, view,
                                               on_merge_progress, steps.merge_log, &why);
    patch.close();
    if (output) {
        stream_close(output);
    }
    if (!built) {
        return fail(view, &merged, TEXT_INTERMEDIATE_FAILED,
                    "merge failed: " + (output ? why : std::string("out of memory")));
    }
    FileSystem* archive = update_open_written_archive(&merged);
    if (!archive) {
        return fail(view, &merged, TEXT_INTERMEDIATE_FAILED,
                    "the merged archive cannot be read back");
    }

    // Loose files come from the merged archive and are all written before
    // the data archive is replaced; one that cannot be written stops the
    // update, so the data never claim a version whose files are missing.
    extraction.archive = archive;
    archive_enumerate_records(archive, "/_extract", 1, &extraction, extract_record);
    fs_close(archive);
    if (!extraction.failed.empty()) {
        return fail(view, &merged, TEXT_OVERWRITE_FAILED,
                    "loose file not written: " + extraction.failed.front());
    }

    // The merged archive must be on the device before its name replaces the
    // installed one, and the replacement is a single step: whatever happens,
    // the install folder keeps a readable data archive, old or new.
    if (!steps.sync_file(&merged)) {
        return fail(view, &merged, TEXT_OVERWRITE_FAILED,
                    "the merged archive cannot be flushed to disk");
    }
    if (!steps.replace_file(&merged)) {
        return fail(view, &merged, TEXT_OVERWRITE_FAILED, "the data archive cannot be replaced");
    }
    refresh_versions(view);
    view->set_text(CONTROL_STATUS, TEXT_UPDATE_COMPLETE);
    return true;
}
