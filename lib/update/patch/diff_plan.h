// The smallest patch that turns OLD into NEW: refused where the updater
// would refuse it, and proved by applying it to OLD as the updater does
// before it is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/patch/diff_patch.h"
#include "update/patch/diff_report.h"
#include "update/patch/diff_tree.h"
#include "update/version_info.h"

struct DiffRequest {
    std::string output_path;    // the patch to write, code page 932
    std::string output_display; // the patch as messages name it
    // The info.txt the patch carries: NEW's, or NEW's with these values.
    bool has_version = false, has_attribute = false;
    std::string version, attribute; // code page 932
    // Changed files that match one of these also go under /_extract.
    std::vector<std::string> patterns;
    // Refuse where OLD's files would stay, or names would clash, instead of
    // warning.
    bool strict = false;
    // Decide and plan only: nothing is written or proved.
    bool dry_run = false;
};

// What changed, file by file, in NEW's order.
struct DiffChanges {
    std::vector<const TreeEntry*> changed;    // NEW's files that OLD holds with other content
    std::vector<const TreeEntry*> added;      // NEW's files that OLD lacks
    std::vector<const TreeEntry*> removed;    // OLD's files that NEW lacks
    std::vector<std::string> removed_folders; // OLD's outermost folders that NEW lacks
    std::vector<PatchItem> copies;            // the copies under /_extract
    size_t unchanged = 0;
};

// The patch as planned and, unless a dry run, as written.
struct DiffOutcome {
    std::vector<PatchItem> items;
    bool written = false;
    uint32_t patch_files = 0, patch_dirs = 0;
    uint32_t patch_bytes = 0;
    size_t stays = 0; // files of OLD the update leaves, as the proof counted them
    VersionInfo info{};
};

struct DiffResult {
    DiffChanges changes;
    DiffOutcome outcome;
    // The info.txt written for a new version or attribute: NEW's entry for
    // it points here, so it lives as long as NEW's tree is used.
    std::string written_info;
};

// Makes the patch from the two open sides (target is NEW; its info.txt may
// be replaced). Reports what it refuses, warns of and how far it is through
// reporter; the patch is moved to request.output_path only once proved.
DiffStatus diff_make(const DiffRequest& request, Tree& old_tree, Tree& target,
                     const DiffReporter& reporter, DiffResult& result);
