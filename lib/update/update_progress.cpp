#include "update/update_progress.h"

UpdateProgressStage::UpdateProgressStage(UpdateProgressCallback callback, void* context,
                                         const char* stage, uint64_t files_total,
                                         uint64_t bytes_total)
    : callback_(callback),
      context_(context), progress_{UPDATE_PROGRESS_BEGIN, stage, 0, files_total, 0, bytes_total} {
    report(UPDATE_PROGRESS_BEGIN);
}

void UpdateProgressStage::set_totals(uint64_t files_total, uint64_t bytes_total) {
    progress_.files_total = files_total;
    progress_.bytes_total = bytes_total;
    report(UPDATE_PROGRESS_TOTALS);
}

void UpdateProgressStage::advance(uint64_t files_done, uint64_t bytes_done) {
    progress_.files_done = files_done;
    progress_.bytes_done = bytes_done;
    report(UPDATE_PROGRESS_ADVANCE);
}

void UpdateProgressStage::finish() {
    report(UPDATE_PROGRESS_END);
}

void UpdateProgressStage::report(UpdateProgressEvent event) {
    if (callback_) {
        progress_.event = event;
        callback_(context_, &progress_);
    }
}

namespace {

struct PackProgress {
    ArchiveBuilder* builder;
    UpdateProgressStage* stage;
    uint64_t bytes_done;
};

int on_file_written(void* context, uint32_t index, uint32_t total) {
    auto* progress = static_cast<PackProgress*>(context);
    const ArchiveBuilder& builder = *progress->builder;
    if (index == 0) {
        uint64_t bytes_total = 0;
        for (uint32_t i = 0; i < builder.file_count(); ++i) {
            bytes_total += builder.collected_file(i).size;
        }
        progress->stage->set_totals(total, bytes_total);
    }
    if (index < builder.file_count()) {
        progress->bytes_done += builder.collected_file(index).size;
    }
    progress->stage->advance(index + 1, progress->bytes_done);
    return 1;
}

} // namespace

bool update_pack_reporting(ArchiveBuilder& builder, Stream* output, FileSystem* first,
                           FileSystem* second, const char* stage, UpdateProgressCallback callback,
                           void* context) {
    UpdateProgressStage reported(callback, context, stage, 0, 0);
    PackProgress progress{&builder, &reported, 0};
    bool ok = builder.pack_into(output, first, second, &progress, on_file_written);
    reported.finish();
    return ok;
}
