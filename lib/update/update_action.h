// What the versions of the installed data and of a patch let the updater
// do. The dialog shows it on its action button; "epk2 diff" refuses to make
// a patch the updater would not apply.
#pragma once

#include "update/version_info.h"

enum UpdateAction {
    UPDATE_ACTION_START_GAME,   // the installed data are not older than the patch
    UPDATE_ACTION_KIND_DIFFERS, // the patch is for data of another kind
    UPDATE_ACTION_APPLY,        // the patch may be applied (its signature aside)
};

struct UpdateDecision {
    // The patch's version is higher, both read as decimal numbers
    // (parse_version: "1.9" is higher than "1.10").
    bool patch_newer;
    // Both attributes are the same text, byte for byte (letter case counts).
    bool same_kind;
    // The version decides first: data that are not older start the game,
    // whatever kind the patch is.
    UpdateAction action;
};

UpdateDecision update_decide(const VersionInfo& installed, const VersionInfo& patch);
