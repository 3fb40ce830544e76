// The library's messages, collected while a command needs to say why the
// library refused something.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Collects the library's messages while it lives, so that a command can say
// why the library refused something instead of printing them unasked.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    // The messages so far, without their "Error: " prefix and line feed.
    const std::vector<std::string>& messages() const { return messages_; }
    std::string last() const { return messages_.empty() ? std::string() : messages_.back(); }
    void clear() { messages_.clear(); }

  private:
    static void hook(intptr_t value, const char* text);
    std::vector<std::string> messages_;
    MessageCapture* previous_;
};
