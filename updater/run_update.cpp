#include "archive/archive_fs.h"
#include "platform/platform.h"
#include "update_logic.h"
#include "update_paths.h"
#include "update_texts.h"

namespace {

int on_merge_progress(void* context, uint32_t index, uint32_t total) {
    static_cast<UpdaterView*>(context)->progress(index, total);
    return 1;
}

// Ends a failed update: the intermediate archive is of no further use, and
// the installed data archive has not been touched.
bool fail(UpdaterView* view, const char* intermediate, const char* status, const std::string& why) {
    if (intermediate) {
        platform_file_delete(intermediate);
    }
    if (!why.empty()) {
        view->detail(why.c_str());
    }
    view->set_text(CONTROL_STATUS, status);
    return false;
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

    ProgressRangeSet = 0;
    std::string why;
    if (!merge_archives(paths.intermediate, paths.patch, paths.data, view, on_merge_progress,
                        steps.merge_log, &why)) {
        return fail(view, paths.intermediate, TEXT_INTERMEDIATE_FAILED, "merge failed: " + why);
    }
    FileSystem* merged = archive_open(nullptr, paths.intermediate, nullptr);
    if (!merged) {
        return fail(view, paths.intermediate, TEXT_INTERMEDIATE_FAILED,
                    "the merged archive cannot be read back");
    }

    // Loose files come from the merged archive and are all written before
    // the data archive is replaced; one that cannot be written stops the
    // update, so the data never claim a version whose files are missing.
    ExtractionContext extraction{paths.extraction_folder, &steps, 0, {}};
    fs_enumerate(merged, "/_extract", 1, &extraction, extract_entry);
    fs_close(merged);
    if (!extraction.failed.empty()) {
        return fail(view, paths.intermediate, TEXT_OVERWRITE_FAILED,
                    "loose file not written: " + extraction.failed.front());
    }

    // The merged archive must be on the device before its name replaces the
    // installed one, and the replacement is a single step: whatever happens,
    // the install folder keeps a readable data archive, old or new.
    if (!steps.sync_file(paths.intermediate)) {
        return fail(view, paths.intermediate, TEXT_OVERWRITE_FAILED,
                    "the merged archive cannot be flushed to disk");
    }
    if (!steps.replace_file(paths.intermediate, paths.data)) {
        return fail(view, paths.intermediate, TEXT_OVERWRITE_FAILED,
                    "the data archive cannot be replaced");
    }
    refresh_versions(view);
    view->set_text(CONTROL_STATUS, TEXT_UPDATE_COMPLETE);
    return true;
}
