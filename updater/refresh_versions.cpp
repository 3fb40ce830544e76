#include <cstdio>
#include <cstring>

#include "archive/archive_fs.h"
#include "patch_signature.h"
#include "stream/file_handles.h"
#include "update_logic.h"
#include "update_paths.h"
#include "update_texts.h"
#include "version_info.h"

int ActionMode = ACTION_MODE_UPDATE;
int ProgressRangeSet = 0;

namespace {

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

// The same for the patch, opened once: its version and, later, its signature
// are read through the same handle, which *file keeps (null when it did not
// open; the caller releases it).
bool read_patch_version(const char* path, VersionInfo* info, SharedFile** file) {
    *file = path ? shared_file_open(path, nullptr) : nullptr;
    FileSystem* fs = *file ? archive_open_shared(*file, path, nullptr) : nullptr;
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

// With a public key, the patch may be applied only when its publisher
// signed exactly the bytes read; without one, every patch may.
bool patch_signed(UpdaterView* view, SharedFile* patch_file, const char* patch_path) {
    const std::string public_key = view->patch_public_key();
    if (public_key.empty()) {
        return true;
    }
    std::string why;
    if (!patch_signature_check(public_key, patch_file, patch_path, &why)) {
        view->detail(why.c_str());
        return false;
    }
    return true;
}

} // namespace

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
    bool both_present = true;

    VersionInfo installed{};
    if (read_archive_version(install_formed ? paths.data : nullptr, &installed)) {
        show_version(view, CONTROL_INSTALLED_VERSION, installed);
    } else {
        both_present = false;
        view->set_text(CONTROL_INSTALLED_VERSION, TEXT_NOT_FOUND);
        view->set_text(CONTROL_STATUS, TEXT_SPECIFY_INSTALL_FOLDER);
    }

    VersionInfo patch{};
    SharedFile* patch_file = nullptr;
    if (read_patch_version(patch_formed ? paths.patch : nullptr, &patch, &patch_file)) {
        show_version(view, CONTROL_PATCH_VERSION, patch);
    } else {
        both_present = false;
        view->set_text(CONTROL_PATCH_VERSION, TEXT_NOT_FOUND);
        view->set_text(CONTROL_STATUS, TEXT_PATCH_NOT_FOUND);
    }

    ActionMode = ACTION_MODE_UPDATE;
    view->set_text(CONTROL_ACTION, TEXT_START_UPDATE);
    if (!both_present) {
        view->enable_action(false);
    } else if (parse_version(installed.version) >= parse_version(patch.version)) {
        // The version decides first: data that are not older start the
        // game, whatever kind the patch is.
        view->set_text(CONTROL_STATUS, TEXT_NO_UPDATE_NEEDED);
        view->set_text(CONTROL_ACTION, TEXT_START_GAME);
        view->enable_action(true);
        ActionMode = ACTION_MODE_LAUNCH;
    } else if (std::strcmp(installed.attribute, patch.attribute) != 0) {
        view->set_text(CONTROL_STATUS, TEXT_KIND_DIFFERS);
        view->enable_action(false);
    } else if (!patch_signed(view, patch_file, paths.patch)) {
        view->set_text(CONTROL_STATUS, TEXT_SIGNATURE_UNVERIFIED);
        view->enable_action(false);
    } else {
        view->set_text(CONTROL_STATUS, TEXT_UPDATE_POSSIBLE);
        view->enable_action(true);
    }
    shared_file_release(patch_file);
}
