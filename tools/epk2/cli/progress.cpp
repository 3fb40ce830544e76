#include "cli/cli.h"

#include <cstdio>

#include "archive/archive_builder.h"

namespace {
constexpr int BAR_WIDTH = 24;

std::string format_duration(double seconds) {
    if (seconds < 0 || seconds > 359999) {
        return "--:--";
    }
    unsigned total = static_cast<unsigned>(seconds + 0.5);
    char buffer[16];
    if (total >= 3600) {
        std::snprintf(buffer, sizeof buffer, "%u:%02u:%02u", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(buffer, sizeof buffer, "%u:%02u", total / 60, total % 60);
    }
    return buffer;
}
} // namespace

ProgressBar::ProgressBar(Console& console, std::string label, uint64_t files_total,
                         uint64_t bytes_total)
    : console_(console), label_(std::move(label)), enabled_(console.err_is_terminal),
      files_total_(files_total), bytes_total_(bytes_total),
      start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

ProgressBar::~ProgressBar() {
    if (drawn_) {
        std::fputc('\n', console_.err);
    }
}

void ProgressBar::set_totals(uint64_t files_total, uint64_t bytes_total) {
    files_total_ = files_total;
    bytes_total_ = bytes_total;
}

void ProgressBar::advance(uint64_t files_done, uint64_t bytes_done) {
    files_done_ = files_done;
    bytes_done_ = bytes_done;
    auto now = std::chrono::steady_clock::now();
    if (enabled_ && now - last_draw_ >= std::chrono::milliseconds(100)) {
        last_draw_ = now;
        draw(false);
    }
}

void ProgressBar::count(uint64_t done, uint64_t total) {
    files_total_ = total;
    advance(done, 0);
}

void ProgressBar::finish() {
    if (enabled_) {
        draw(true);
        std::fputc('\n', console_.err);
        drawn_ = false;
    }
}

void ProgressBar::draw(bool final_draw) {
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double fraction = bytes_total_   ? double(bytes_done_) / double(bytes_total_)
                      : files_total_ ? double(files_done_) / double(files_total_)
                                     : 1.0;
    if (fraction > 1.0) {
        fraction = 1.0;
    }
    int filled = static_cast<int>(fraction * BAR_WIDTH);
    std::string bar(filled, '#');
    bar.append(BAR_WIDTH - filled, '.');
    double rate = elapsed > 0 ? bytes_done_ / elapsed : 0;
    double left = (rate > 0 && !final_draw) ? (bytes_total_ - bytes_done_) / rate : 0;
    std::string amounts;
    if (bytes_total_ > 0) {
        // Byte figures only when they are known; an update counts files alone.
        amounts = "  " + format_bytes(double(bytes_done_)) + "/" +
                  format_bytes(double(bytes_total_)) + "  " + format_bytes(rate) + "/s";
    }
    double files_left = (files_done_ && !final_draw && files_total_ > files_done_)
                            ? elapsed / files_done_ * (files_total_ - files_done_)
                            : 0;
    std::fprintf(
        console_.err, "\r%s [%s] %llu/%llu files%s  %s %s   ", label_.c_str(), bar.c_str(),
        (unsigned long long)files_done_, (unsigned long long)files_total_, amounts.c_str(),
        final_draw ? "took" : "left",
        format_duration(final_draw ? elapsed : (bytes_total_ ? left : files_left)).c_str());
    std::fflush(console_.err);
    drawn_ = true;
}

void ProgressOnBar::on_progress(void* context, const UpdateProgress* progress) {
    auto* shown = static_cast<ProgressOnBar*>(context);
    switch (progress->event) {
    case UPDATE_PROGRESS_BEGIN:
        shown->bar_ = std::make_unique<ProgressBar>(shown->console_, progress->stage,
                                                    progress->files_total, progress->bytes_total);
        break;
    case UPDATE_PROGRESS_TOTALS:
        shown->bar_->set_totals(progress->files_total, progress->bytes_total);
        break;
    case UPDATE_PROGRESS_ADVANCE:
        shown->bar_->advance(progress->files_done, progress->bytes_done);
        break;
    case UPDATE_PROGRESS_END:
        shown->bar_->finish();
        shown->bar_.reset();
        break;
    }
}
