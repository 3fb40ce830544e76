#include "cli/cli.h"

#include <mutex>

#include "support/messages.h"

namespace {
MessageCapture* active_capture = nullptr;

std::string strip_message(const char* text) {
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    const std::string prefix = "Error: ";
    if (message.compare(0, prefix.size(), prefix) == 0) {
        message.erase(0, prefix.size());
    }
    return message;
}
} // namespace

MessageCapture::MessageCapture() : previous_(active_capture) {
    active_capture = this;
    set_message_hook(0, &MessageCapture::hook);
}

MessageCapture::~MessageCapture() {
    active_capture = previous_;
    set_message_hook(0, previous_ ? &MessageCapture::hook : nullptr);
}

void MessageCapture::hook(intptr_t, const char* text) {
    // The builder's worker threads may report at the same time.
    static std::mutex mutex;
    std::lock_guard<std::mutex> guard(mutex);
    if (active_capture) {
        active_capture->messages_.push_back(strip_message(text));
    }
}
