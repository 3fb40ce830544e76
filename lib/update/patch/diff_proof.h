// The proof of a patch: the written patch applied to OLD as the updater
// applies it, and the result compared with NEW file by file.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "update/patch/diff_patch.h"
#include "update/patch/diff_report.h"
#include "update/patch/diff_tree.h"

struct WorkFile;

struct ProofInput {
    WorkFile* patch;         // the patch as written, still a work file
    std::string output_path; // the merge is written beside it, then removed
    Tree* old_tree;
    const Tree* target;                             // NEW as the patch should leave it
    const std::vector<PatchItem>* copies;           // the patch's extra files under /_extract
    const std::unordered_set<std::string>* removed; // OLD's files that NEW lacks
};

struct ProofOutcome {
    enum Status {
        PROVED,
        MERGE_REFUSED, // the updater's merge would fail on this patch (error says why)
        IO_FAILED,     // the merge could not be written or read back (error says why)
        DIFFERENT,     // the result is not NEW (differences say where)
    } status = IO_FAILED;
    std::string error;
    std::vector<std::string> differences; // "/path: why" (code page 932)
    size_t stays = 0; // files of the result that NEW lacks: OLD's, left by the update
};

ProofOutcome prove_patch(const DiffReporter& reporter, const ProofInput& input);
