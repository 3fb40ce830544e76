// A view of the update logic that records what the logic shows, for the
// update's unit tests and the fuzz target of the version decision. Inline,
// so that only the programs that link the update logic need it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "update/update_logic.h"

class RecordingView : public UpdaterView {
  public:
    std::string folder;
    std::string module;
    std::string patch; // empty: Patch.dat beside module
    std::map<int, std::string> texts;
    std::vector<std::string> statuses; // every status text, in order
    bool enabled = false;
    int enable_calls = 0; // a decision that never sets the button shows as 0
    std::vector<std::pair<uint32_t, uint32_t>> progress_calls;
    int ranges_set = 0; // times the bar's range was (re)set
    std::vector<std::string> details;
    std::string public_key; // the publisher's key (PEM); empty: patches apply unsigned

    std::string install_folder() override { return folder; }
    void set_text(int control, const char* text) override {
        texts[control] = text;
        if (control == CONTROL_STATUS) {
            statuses.push_back(text);
        }
    }
    void enable_action(bool on) override {
        enabled = on;
        ++enable_calls;
    }
    std::string module_path() override { return module; }
    void progress(uint32_t index, uint32_t total) override {
        if (ProgressRangeSet == 0) {
            ++ranges_set;
            ProgressRangeSet = 1;
        }
        progress_calls.emplace_back(index, total);
    }
    std::string patch_archive() override { return patch; }
    void detail(const char* text) override { details.push_back(text); }
    std::string patch_public_key() override { return public_key; }

    std::string status() const { return text(CONTROL_STATUS); }
    std::string text(int control) const {
        auto found = texts.find(control);
        return found == texts.end() ? std::string("<unset>") : found->second;
    }
};
