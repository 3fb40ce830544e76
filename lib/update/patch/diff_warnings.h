// What a patch's maker is warned of where the updated data will not be what NEW
// shows, though every file of NEW arrives: loose files that land on one name
// and names that are a file on one side and a folder on the other.
#pragma once

#include <string>
#include <vector>

#include "update/patch/diff_patch.h"
#include "update/patch/diff_report.h"
#include "update/patch/diff_tree.h"

// Files below /_extract of the updated data (NEW's, the copies made for
// it and OLD's that stay) whose last names are the same, ASCII case aside
// as Windows compares them: the updater copies every one of them into the
// install folder under that name, one after another, and the last one
// copied stays. Warns of each such name; returns how many there are.
size_t warn_loose_collisions(const DiffReporter& reporter, const Tree& target,
                             const std::vector<PatchItem>& copies,
                             const std::vector<const TreeEntry*>& stays);

// Paths that are a file in OLD and a folder in NEW, or the other way round.
// A patch cannot delete the one OLD holds, so the updated data hold both,
// and extracting them fails. Warns of each; returns how many there are.
size_t warn_file_folder_clashes(const DiffReporter& reporter, const Tree& old_tree,
                                const Tree& target, const std::vector<PatchItem>& copies);
