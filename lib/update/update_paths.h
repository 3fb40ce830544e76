// Where the files of an update lie. Every path is a code page 932 string in
// a 260-byte buffer, as the shell functions that join them expect.
#pragma once

#include <string>

constexpr unsigned UPDATE_PATH_SIZE = 260;

// File names in the install folder and beside the updater.
inline constexpr char PATCH_ARCHIVE_NAME[] = "Patch.dat";
inline constexpr char DATA_ARCHIVE_NAME[] = "Tessavane.dat";
inline constexpr char INTERMEDIATE_ARCHIVE_NAME[] = "Tessavane.tmp";
inline constexpr char GAME_EXECUTABLE_NAME[] = "Tessavane.exe";
// A loose file is written under this name first and moved over its target
// only once all of it is on disk.
inline constexpr char LOOSE_PARTIAL_NAME[] = "Tessavane.part";
// Held by the running update, so that a second one in the same install
// folder waits instead of sharing the work files above.
inline constexpr char UPDATE_LOCK_NAME[] = "Tessavane.lock";

// True when the last component of path (after its last "/" or backslash) names,
// in any letter case, one of the work files the update makes and removes in
// the install folder: the intermediate archive, the partial loose file or
// the lock. A patch of such a name would be destroyed by the update that
// reads it.
bool is_updater_file(const std::string& path);

struct UpdatePaths {
    char patch[UPDATE_PATH_SIZE];             // the patch archive
    char data[UPDATE_PATH_SIZE];              // the installed data archive
    char extraction_folder[UPDATE_PATH_SIZE]; // its folder, trailing separator kept
    char intermediate[UPDATE_PATH_SIZE];      // the merged archive before it moves into place
    char loose_partial[UPDATE_PATH_SIZE];     // a loose file before it moves into place
    char lock[UPDATE_PATH_SIZE];              // one update at a time
    char game[UPDATE_PATH_SIZE];              // the game's executable
};

// The updater's folder: module_path cut just after its last separator.
std::string updater_folder(const std::string& module_path);

// The patch archive: patch_archive as given, or, when it is empty,
// "Patch.dat" in the updater's folder. False when it does not fit.
bool update_patch_path(const std::string& module_path, const std::string& patch_archive,
                       char* patch);

// Forms every path but the patch's from the install folder (at most 259
// bytes; empty means the current directory). False when a path does not fit.
bool update_install_paths(const std::string& install_folder, UpdatePaths* paths);

// Both of the above; false when any path does not fit (paths is then
// unusable).
bool update_paths_form(const std::string& install_folder, const std::string& module_path,
                       const std::string& patch_archive, UpdatePaths* paths);
