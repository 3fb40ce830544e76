// Progress of long work (a merge, a patch being made or checked) as plain
// records, so that a caller can show it however it likes: a bar on a
// terminal, a control in a dialog, nothing.
#pragma once

#include <cstdint>

#include "archive/archive_builder.h"

enum UpdateProgressEvent {
    UPDATE_PROGRESS_BEGIN,   // a stage starts, with its totals where they are known (else 0)
    UPDATE_PROGRESS_TOTALS,  // the stage's totals became known
    UPDATE_PROGRESS_ADVANCE, // files and bytes done so far
    UPDATE_PROGRESS_END,     // the stage has ended
};

struct UpdateProgress {
    UpdateProgressEvent event;
    const char* stage; // a short word: "compare", "patch", "merge", "check"
    uint64_t files_done;
    uint64_t files_total;
    uint64_t bytes_done;
    uint64_t bytes_total;
};

// Called on the thread that started the work, one stage at a time.
typedef void (*UpdateProgressCallback)(void* context, const UpdateProgress* progress);

// One stage's reports: BEGIN when made, then what the calls below say.
// Without a callback it reports nothing.
class UpdateProgressStage {
  public:
    UpdateProgressStage(UpdateProgressCallback callback, void* context, const char* stage,
                        uint64_t files_total, uint64_t bytes_total);
    UpdateProgressStage(const UpdateProgressStage&) = delete;
    UpdateProgressStage& operator=(const UpdateProgressStage&) = delete;

    void set_totals(uint64_t files_total, uint64_t bytes_total);
    void advance(uint64_t files_done, uint64_t bytes_done);
    void finish();

  private:
    void report(UpdateProgressEvent event);

    UpdateProgressCallback callback_;
    void* context_;
    UpdateProgress progress_;
};

// builder.pack_into(output, first, second) reporting as stage: the builder's
// call after each file becomes files and bytes done (the bytes counted from
// the builder's files), its first call the totals.
bool update_pack_reporting(ArchiveBuilder& builder, Stream* output, FileSystem* first,
                           FileSystem* second, const char* stage, UpdateProgressCallback callback,
                           void* context);
