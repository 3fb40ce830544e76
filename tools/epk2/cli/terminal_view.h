// The updater's view for the terminal: remembers the texts the update logic
// sets, takes the install folder and the patch from the command line and
// draws the merge's progress as a bar on standard error.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "cli/console.h"
#include "cli/progress.h"
#include "update/update_logic.h"

class TerminalView : public UpdaterView {
  public:
    // Both paths in code page 932; an empty patch means "Patch.dat" beside
    // the tool, as the dialog looks for it beside itself.
    TerminalView(Console& console, std::string install_folder, std::string patch_archive);

    std::string install_folder() override { return install_folder_; }
    void set_text(int control, const char* text) override { texts_[control] = text; }
    void enable_action(bool enabled) override { action_enabled_ = enabled; }
    std::string module_path() override;
    void progress(uint32_t index, uint32_t total) override;
    std::string patch_archive() override { return patch_archive_; }
    void detail(const char* text) override;
    std::string patch_public_key() override { return public_key_; }
    // The publisher's public key (PEM text) for --public-key.
    void set_public_key(std::string pem) { public_key_ = std::move(pem); }

    // The last text set on a control (code page 932), empty when none.
    std::string text(int control) const;
    bool action_enabled() const { return action_enabled_; }
    // Ends the progress bar's line, if one was drawn.
    void finish_progress();

  private:
    Console& console_;
    std::string install_folder_;
    std::string patch_archive_;
    std::string public_key_;
    std::map<int, std::string> texts_;
    bool action_enabled_ = false;
    std::unique_ptr<ProgressBar> bar_;
};
