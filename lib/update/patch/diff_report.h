// How the making of a patch tells its caller what it finds and how far it
// is: progress records, and lines for the user whose names are shown in the
// caller's form.
#pragma once

#include <string>

#include "update/update_progress.h"

enum DiffMessageKind {
    DIFF_MESSAGE_ERROR,   // why the patch is refused or cannot be made
    DIFF_MESSAGE_WARNING, // the patch is made, but the updated data will not be what NEW shows
};

struct DiffReporter {
    void* context = nullptr;
    // Every slot may be null.
    UpdateProgressCallback progress = nullptr;
    // One line, without an end of line and without a "warning:" word.
    void (*message)(void* context, DiffMessageKind kind, const std::string& text) = nullptr;
    // How a code page 932 name or text is shown inside those lines; null
    // keeps it as it is.
    std::string (*shown)(const std::string& cp932) = nullptr;

    std::string show(const std::string& cp932) const { return shown ? shown(cp932) : cp932; }
    void error(const std::string& text) const;
    void warning(const std::string& text) const;
};

// The outcome of each step: the numbers are the tool's exit statuses.
enum DiffStatus {
    DIFF_OK = 0,
    DIFF_REFUSED = 1, // the updater would refuse the patch, or a side is damaged
    DIFF_FAILED = 2,  // a usage or input/output error
};
