#include "platform/platform.h"
#include "stream/work_file.h"
#include "update/update_logic.h"

namespace {

Stream* update_work_stream(WorkFile* work) {
    return work_file_stream(work, nullptr);
}

} // namespace

UpdateSteps default_update_steps() {
    return UpdateSteps{work_file_sync, work_file_commit, update_work_stream,
                       stdout,         nullptr,          platform_folder_lock_acquire};
}
