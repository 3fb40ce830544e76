#include "update/patch/diff_report.h"

void DiffReporter::error(const std::string& text) const {
    if (message) {
        message(context, DIFF_MESSAGE_ERROR, text);
    }
}

void DiffReporter::warning(const std::string& text) const {
    if (message) {
        message(context, DIFF_MESSAGE_WARNING, text);
    }
}
