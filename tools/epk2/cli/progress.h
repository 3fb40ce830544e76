// A one-line progress bar on standard error: files and bytes done, rate and
// time left. Quiet unless standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "cli/console.h"
#include "update/update_progress.h"

class ProgressBar {
  public:
    ProgressBar(Console& console, std::string label, uint64_t files_total, uint64_t bytes_total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void set_totals(uint64_t files_total, uint64_t bytes_total);
    // Called after each file; redraws at most ten times a second.
    void advance(uint64_t files_done, uint64_t bytes_done);
    // For work that counts items alone (an update's files, a patch's
    // steps): done of total, no byte figures.
    void count(uint64_t done, uint64_t total);
    // Draws the final state and ends the line.
    void finish();

  private:
    void draw(bool final_draw);

    Console& console_;
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    uint64_t files_total_, bytes_total_;
    uint64_t files_done_ = 0, bytes_done_ = 0;
    std::chrono::steady_clock::time_point start_, last_draw_;
};

// The library's progress records on a bar: one bar a stage, drawn from its
// BEGIN to its END. Hand on_progress with this adapter as its context to
// whatever reports an UpdateProgressCallback (a pack or merge through
// update_pack_reporting, a patch being made).
class ProgressOnBar {
  public:
    explicit ProgressOnBar(Console& console) : console_(console) {}
    static void on_progress(void* context, const UpdateProgress* progress);

  private:
    Console& console_;
    std::unique_ptr<ProgressBar> bar_;
};
