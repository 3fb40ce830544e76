#include "archive/archive_fs.h"
#include "patch_signature.h"
#include "platform/platform.h"
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "update_logic.h"
#include "update_paths.h"
#include "update_texts.h"

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
    explicit UpdateLock(const char* path) : path_(path) {
        lock_ = platform_lock_file_acquire(path, UPDATE_LOCK_WAIT_MS, &busy_);
    }
    ~UpdateLock() { platform_lock_file_release(lock_, path_); }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

    bool held() const { return lock_ != PLATFORM_INVALID_FILE; }
    bool busy() const { return busy_; }

  private:
    const char* path_;
    PlatformFile lock_;
    bool busy_ = false;
};

// The patch file, opened once for the whole update: its signature is checked
// over this handle and the merge reads the archive opened on it, so that
// what was checked is what is applied. On Windows no one may write, rename
// or delete the file while it is open.
class OpenPatch {
  public:
    explicit OpenPatch(const char* path) : file_(shared_file_open(path, nullptr)) {}
    ~OpenPatch() { close(); }
    OpenPatch(const OpenPatch&) = delete;
    OpenPatch& operator=(const OpenPatch&) = delete;

    SharedFile* file() const { return file_; }
    // The archive on the open file; null when it is none (or not open).
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
    SharedFile* file_;
    FileSystem* archive_ = nullptr;
};

// Opens the merged archive through the handle that wrote it.
FileSystem* open_merged(WorkFile* merged) {
    SharedFile* file = shared_file_adopt(merged->file, false, nullptr);
    FileSystem* fs = file ? archive_open_shared(file, merged->path, nullptr) : nullptr;
    shared_file_release(file);
    return fs;
}

} // namespace

bool run_update(UpdaterView* view) {
    return run_update(view, default_update_steps());
}

bool run_update(UpdaterView* view, const UpdateSteps& steps) {
    view->set_text(CONTROL_STATUS, TEXT_UPDATE_RUNNING);
    UpdatePaths paths;
    if (!update_paths_form(view->install_folder(), view->module_path(), view->patch_archive(),
                           &paths)) {
        return fail(view, nullptr, TEXT_SPECIFY_INSTALL_FOLDER, "a path is too long");
    }

    // The signature is checked again, over the handle the merge reads: the
    // check of refresh_versions was made on a file that may since have been
    // replaced. Nothing is touched before it passes. A patch that does not
    // open at all fails in the merge below, as without a key.
    OpenPatch patch(paths.patch);
    const std::string public_key = view->patch_public_key();
    if (!public_key.empty() && patch.file()) {
        std::string why;
        if (!patch_signature_check(public_key, patch.file(), paths.patch, &why)) {
            view->enable_action(false);
            return fail(view, nullptr, TEXT_SIGNATURE_UNVERIFIED, why);
        }
    }

    // Two updates in one folder would write the same work files.
    UpdateLock lock(paths.lock);
    if (!lock.held()) {
        return fail(view, nullptr, TEXT_OVERWRITE_FAILED,
                    lock.busy() ? "another update is running in this install folder"
                                : std::string("cannot create the lock file ") + paths.lock);
    }

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
    FileSystem* archive = open_merged(&merged);
    if (!archive) {
        return fail(view, &merged, TEXT_INTERMEDIATE_FAILED,
                    "the merged archive cannot be read back");
    }

    // Loose files come from the merged archive and are all written before
    // the data archive is replaced; one that cannot be written stops the
    // update, so the data never claim a version whose files are missing.
    ExtractionContext extraction{
        archive, paths.extraction_folder, paths.loose_partial, &steps, 0, {}, {}};
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
