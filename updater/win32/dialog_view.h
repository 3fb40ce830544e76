// The update logic's view of dialog 101: its fields, its action button and
// its progress bar.
#pragma once

#include <windows.h>

#include "progress_bar.h"
#include "update/update_logic.h"

class DialogView : public UpdaterView {
  public:
    explicit DialogView(HWND dialog) : dialog_(dialog), progress_(dialog) {}

    // The field's text in code page 932; empty when it has none, and then
    // install_folder_unusable says why.
    std::string install_folder() override;
    std::string install_folder_unusable() override;
    void set_text(int control, const char* text) override;
    void enable_action(bool enabled) override;
    std::string module_path() override;
    void progress(uint32_t index, uint32_t total) override;
    void detail(const char* text) override;
    // The key this build was made with (see patch_key.h).
    std::string patch_public_key() override;
    // On another thread, the dialog answering meanwhile (update_messages.h).
    void run_long(void (*work)(void*), void* context) override;
    // After run_update, however it ended.
    void finish_progress() { progress_.finish(); }

  private:
    HWND dialog_;
    UpdateProgress progress_;
};
