#include <cstdio>
#include <string>

#include "archive/archive_fs.h"
#include "platform/platform.h"
#include "stream/file_handles.h"
#include "update/patch_signature.h"
#include "update/update_action.h"
#include "update/update_decision.h"
#include "update/update_logic.h"
#include "update/update_paths.h"
#include "update/update_texts.h"
#include "update/version_info.h"

int ActionMode = ACTION_MODE_UPDATE;
int ProgressRangeSet = 0;

namespace {

// The patch as the last refresh read it when it may be applied, kept open
// until the next refresh or the update. Where the open file refuses writers (Windows), the update
// decides and merges from these very bytes; elsewhere it makes its own copy.
SharedFile* HeldPatch = nullptr;
std::string HeldPatchPath;

void hold_patch(SharedFile* file, const char* path) {
    release_held_patch();
    HeldPatch = file;
    HeldPatchPath = file ? path : "";
}

// Opens the archive at path and reads its version into info; false (and
// nothing read) when it does not open.
bool read_archive_version(const char* path, VersionInfo* info) {
    FileSystem* fs = path ? archive_open(nullptr, path, nullptr) : nullptr;
    if (!fs) {
        return false;
    }
    // An archive without "info.txt" shows and compares its empty fields.
    read_version_info(fs, info);
    fs_close(fs);
    return true;
}

// The same for the patch, read through its open file.
bool read_patch_version(SharedFile* file, const char* path, VersionInfo* info) {
    FileSystem* fs = file ? archive_open_shared(file, path, nullptr) : nullptr;
    if (!fs) {
        return false;
    }
    read_version_info(fs, info);
    fs_close(fs);
    return true;
}

void show_version(UpdaterView* view, int control, const VersionInfo& info) {
    char text[2 * VERSION_FIELD_SIZE + 16];
    std::snprintf(text, sizeof text, TEXT_VERSION_FORMAT, info.version, info.attribute);
    view->set_text(control, text);
}

struct SignatureCheck {
    std::string public_key;
    SharedFile* patch;
    const char* patch_path;
    bool passed = false;
    std::string why;
};

void check_signature(void* context) {
    auto* check = static_cast<SignatureCheck*>(context);
    check->passed =
        patch_signature_check(check->public_key, check->patch, check->patch_path, &check->why);
}

// With a public key, the patch may be applied only when its publisher
// signed exactly the bytes read; without one, every patch may. Hashing a
// large patch takes a while: the view decides where it runs.
bool patch_signed(UpdaterView* view, SharedFile* patch_file, const char* patch_path) {
    SignatureCheck check{view->patch_public_key(), patch_file, patch_path, false, {}};
    if (check.public_key.empty()) {
        return true;
    }
    view->run_long(check_signature, &check);
    if (!check.passed) {
        view->detail(check.why.c_str());
    }
    return check.passed;
}

} // namespace

void release_held_patch() {
    shared_file_release(HeldPatch);
    HeldPatch = nullptr;
    HeldPatchPath.clear();
}

SharedFile* take_held_patch(const char* patch_path) {
    SharedFile* held = HeldPatch;
    bool same = held && HeldPatchPath == patch_path;
    HeldPatch = nullptr;
    HeldPatchPath.clear();
    if (!same) {
        shared_file_release(held);
        return nullptr;
    }
    return held;
}

bool decide_versions(UpdaterView* view, const char* data_path, SharedFile* patch_file,
                     const char* patch_path) {
    bool both_present = true;
    VersionInfo installed{};
    if (read_archive_version(data_path, &installed)) {
        show_version(view, CONTROL_INSTALLED_VERSION, installed);
    } else {
        both_present = false;
        view->set_text(CONTROL_INSTALLED_VERSION, TEXT_NOT_FOUND);
        view->set_text(CONTROL_STATUS, TEXT_SPECIFY_INSTALL_FOLDER);
    }

    VersionInfo patch{};
    if (read_patch_version(patch_file, patch_path, &patch)) {
        show_version(view, CONTROL_PATCH_VERSION, patch);
    } else {
        both_present = false;
        view->set_text(CONTROL_PATCH_VERSION, TEXT_NOT_FOUND);
        view->set_text(CONTROL_STATUS, TEXT_PATCH_NOT_FOUND);
    }

    ActionMode = ACTION_MODE_UPDATE;
    view->set_text(CONTROL_ACTION, TEXT_START_UPDATE);
    const UpdateAction action = update_decide(installed, patch).action;
    if (!both_present) {
        view->enable_action(false);
    } else if (action == UPDATE_ACTION_START_GAME) {
        view->set_text(CONTROL_STATUS, TEXT_NO_UPDATE_NEEDED);
        view->set_text(CONTROL_ACTION, TEXT_START_GAME);
        view->enable_action(true);
        ActionMode = ACTION_MODE_LAUNCH;
    } else if (action == UPDATE_ACTION_KIND_DIFFERS) {
        view->set_text(CONTROL_STATUS, TEXT_KIND_DIFFERS);
        view->enable_action(false);
    } else if (!patch_signed(view, patch_file, patch_path)) {
        view->set_text(CONTROL_STATUS, TEXT_SIGNATURE_UNVERIFIED);
        view->enable_action(false);
    } else {
        view->set_text(CONTROL_STATUS, TEXT_UPDATE_POSSIBLE);
        view->enable_action(true);
        return true;
    }
    return false;
}

void refresh_versions(UpdaterView* view) {
    // Each archive is looked for on its own: a folder too long to use does
    // not hide the patch.
    UpdatePaths paths;
    const std::string unusable = view->install_folder_unusable();
    if (!unusable.empty()) {
        view->detail(unusable.c_str());
    }
    const bool install_formed =
        unusable.empty() && update_install_paths(view->install_folder(), &paths);
    const bool patch_formed =
        update_patch_path(view->module_path(), view->patch_archive(), paths.patch);
    release_held_patch();
    // Version and signature are read through one opening of the patch.
    SharedFile* patch = patch_formed ? shared_file_open(paths.patch, nullptr) : nullptr;
    // Held only while the button would apply it: a patch that the game's
    // start or a refusal stands for may be replaced freely.
    bool applicable =
        decide_versions(view, install_formed ? paths.data : nullptr, patch, paths.patch);
    if (applicable && platform_file_snapshot_is_original()) {
        hold_patch(patch, paths.patch);
    } else {
        shared_file_release(patch);
    }
}
