// The decision table of the update, made from archives that are already
// open, and the patch file refresh_versions keeps open for run_update.
#pragma once

struct SharedFile;
class UpdaterView;

// Shows both versions and sets the status line, the action button and
// ActionMode as the decision table says, from the installed data archive at
// data_path (null: its path could not be formed) and the patch read through
// patch (null: it did not open). With a public key, a patch that could be
// applied is first checked against its signature over the bytes patch holds.
// True when the patch may be applied ("update possible").
bool decide_versions(UpdaterView* view, const char* data_path, SharedFile* patch,
                     const char* patch_path);

// The patch file the last refresh_versions read, when it was read from
// patch_path: the caller gets the reference (and releases it). Null when
// none is held or it was another path; any other held file is released.
SharedFile* take_held_patch(const char* patch_path);
