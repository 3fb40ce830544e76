#include "update/update_paths.h"

#include <cctype>
#include <cstring>

#include "platform/platform.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

bool is_updater_file(const std::string& path) {
    const std::string name = lower(path.substr(path.find_last_of("/\\") + 1));
    for (const char* own : {INTERMEDIATE_ARCHIVE_NAME, LOOSE_PARTIAL_NAME, UPDATE_LOCK_NAME}) {
        if (name == lower(own)) {
            return true;
        }
    }
    return false;
}

std::string updater_folder(const std::string& module_path) {
    const char* text = module_path.c_str();
    const char* name = platform_path_find_file_name(text);
    return std::string(text, name ? static_cast<size_t>(name - text) : 0);
}

bool update_patch_path(const std::string& module_path, const std::string& patch_archive,
                       char* patch) {
    if (!patch_archive.empty()) {
        if (patch_archive.size() >= UPDATE_PATH_SIZE) {
            return false;
        }
        std::memcpy(patch, patch_archive.c_str(), patch_archive.size() + 1);
        return true;
    }
    // No path of the updater (too long, or with no code page 932 form):
    // "Patch.dat" alone would be looked for in the current folder instead.
    if (module_path.empty()) {
        return false;
    }
    std::string beside = updater_folder(module_path);
    return beside.size() < UPDATE_PATH_SIZE &&
           platform_path_combine(patch, beside.c_str(), PATCH_ARCHIVE_NAME) != nullptr;
}

bool update_install_paths(const std::string& install_folder, UpdatePaths* paths) {
    // The dialog's field holds at most 259 bytes; a longer folder would be
    // cut to another folder's name, so it is refused instead.
    if (install_folder.size() >= UPDATE_PATH_SIZE) {
        return false;
    }
    const char* folder = install_folder.c_str();
    if (!platform_path_combine(paths->data, folder, DATA_ARCHIVE_NAME) ||
        !platform_path_combine(paths->game, folder, GAME_EXECUTABLE_NAME)) {
        return false;
    }
    // The extraction folder is the canonical folder the join produced, so
    // that loose files land beside the data archive whatever the field held.
    const char* name = platform_path_find_file_name(paths->data);
    size_t length = static_cast<size_t>(name - paths->data);
    std::memcpy(paths->extraction_folder, paths->data, length);
    paths->extraction_folder[length] = '\0';
    const char* extraction = paths->extraction_folder;
    return platform_path_combine(paths->intermediate, extraction, INTERMEDIATE_ARCHIVE_NAME) &&
           platform_path_combine(paths->loose_partial, extraction, LOOSE_PARTIAL_NAME) &&
           platform_path_combine(paths->lock, extraction, UPDATE_LOCK_NAME);
}

bool update_paths_form(const std::string& install_folder, const std::string& module_path,
                       const std::string& patch_archive, UpdatePaths* paths) {
    return update_install_paths(install_folder, paths) &&
           update_patch_path(module_path, patch_archive, paths->patch);
}
