#include "cli/cli.h"

#include "platform/platform.h"

TerminalView::TerminalView(Console& console, std::string install_folder, std::string patch_archive)
    : console_(console), install_folder_(std::move(install_folder)),
      patch_archive_(std::move(patch_archive)) {}

std::string TerminalView::module_path() {
    char path[512]; // GetModuleFileNameA's buffer in the dialog
    return platform_module_path(path, sizeof path) ? std::string(path) : std::string();
}

void TerminalView::progress(uint32_t index, uint32_t total) {
    // As the dialog's bar: the range is set on the first call of each update.
    if (ProgressRangeSet == 0 || !bar_) {
        bar_ = std::make_unique<ProgressBar>(console_, "update", total, 0);
        ProgressRangeSet = 1;
    }
    bar_->count(uint64_t(index) + 1, total);
}

void TerminalView::detail(const char* text) {
    finish_progress();
    print_error(console_, to_console(text));
}

std::string TerminalView::text(int control) const {
    auto found = texts_.find(control);
    return found == texts_.end() ? std::string() : found->second;
}

void TerminalView::finish_progress() {
    if (bar_) {
        bar_->finish();
        bar_.reset();
    }
}
