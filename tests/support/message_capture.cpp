#include "support/message_capture.h"

#include <algorithm>
#include <mutex>

#include "support/messages.h"

namespace {
// Guards the active capture and every capture's texts.
std::mutex capture_lock;
RawMessageCapture* active_capture = nullptr;
} // namespace

RawMessageCapture::RawMessageCapture() {
    std::lock_guard<std::mutex> hold(capture_lock);
    previous_ = active_capture;
    active_capture = this;
    set_message_hook(0, &RawMessageCapture::hook);
}

RawMessageCapture::~RawMessageCapture() {
    std::lock_guard<std::mutex> hold(capture_lock);
    active_capture = previous_;
    set_message_hook(0, previous_ ? &RawMessageCapture::hook : nullptr);
}

std::vector<std::string> RawMessageCapture::messages() const {
    std::lock_guard<std::mutex> hold(capture_lock);
    return messages_;
}

bool RawMessageCapture::has(const std::string& text) const {
    std::lock_guard<std::mutex> hold(capture_lock);
    return std::find(messages_.begin(), messages_.end(), text) != messages_.end();
}

void RawMessageCapture::clear() {
    std::lock_guard<std::mutex> hold(capture_lock);
    messages_.clear();
}

void RawMessageCapture::hook(intptr_t, const char* text) {
    std::lock_guard<std::mutex> hold(capture_lock);
    if (active_capture) {
        active_capture->messages_.push_back(text);
    }
}
