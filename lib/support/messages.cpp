#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "support/messages.h"

namespace {

thread_local ErrorReason last_reason = ERROR_REASON_NONE;

// Set while no other thread logs; nothing clears it at exit.
MessageHook message_hook = nullptr;
intptr_t message_hook_value = 0;

// Boxes have no owner window: nothing in the system sets one.
void* const message_box_owner = nullptr;

const unsigned message_box_styles[] = {
    0x00, // MESSAGE_PLAIN: OK button only
    0x40, // MESSAGE_INFORMATION
    0x30, // MESSAGE_WARNING
    0x10, // MESSAGE_ERROR
    0x20, // MESSAGE_QUESTION
};

// Formats into buffer, cutting the text to size - 1 bytes, and returns its
// length. The length is taken from the buffer itself because runtimes differ
// in what vsnprintf returns for a text that does not fit.
size_t message_format(char* buffer, size_t size, const char* format, va_list arguments) {
    buffer[0] = '\0';
    std::vsnprintf(buffer, size, format, arguments);
    buffer[size - 1] = '\0';
    return std::strlen(buffer);
}

void message_deliver(const char* text) {
    if (message_hook != nullptr) {
        message_hook(message_hook_value, text);
    } else {
        debug_output(text);
    }
}

void message_log(bool line_feed, const char* format, va_list arguments) {
    char buffer[MESSAGE_BUFFER_SIZE];
    // One byte is held back for the line feed, so a cut text still ends with it.
    size_t length =
        message_format(buffer, line_feed ? sizeof buffer - 1 : sizeof buffer, format, arguments);
    if (line_feed) {
        buffer[length++] = '\n';
        buffer[length] = '\0';
    }
    message_deliver(buffer);
}

void message_report(const char* prefix_format, const char* format, va_list arguments) {
    char text[MESSAGE_BUFFER_SIZE];
    message_format(text, sizeof text, format, arguments);
    log_message(prefix_format, text);
}

} // namespace

void log_message(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    message_log(true, format, arguments);
    va_end(arguments);
}

void log_message_raw(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    message_log(false, format, arguments);
    va_end(arguments);
}

void report_error(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    message_report("Error: %s", format, arguments);
    va_end(arguments);
}

void report_reason(ErrorReason reason, const char* format, ...) {
    last_reason = reason;
    va_list arguments;
    va_start(arguments, format);
    message_report("Error: %s", format, arguments);
    va_end(arguments);
}

void report_warning(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    message_report("Warning: %s", format, arguments);
    va_end(arguments);
}

void report_failure(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    message_report("Error: Failed to %s", format, arguments);
    va_end(arguments);
}

void set_message_hook(intptr_t value, MessageHook hook) {
    message_hook_value = value;
    message_hook = hook;
}

void debug_output(const char* text) {
    platform_debug_output(text);
}

int show_message_box(const char* text, const char* caption, MessageKind kind) {
    unsigned index = static_cast<unsigned>(kind);
    // An unknown kind gets the plain box rather than a read past the table.
    unsigned style = index < sizeof message_box_styles / sizeof message_box_styles[0]
                         ? message_box_styles[index]
                         : 0;
    return platform_message_box(message_box_owner, text, caption, style);
}

void error_reason_set(ErrorReason reason) {
    last_reason = reason;
}

ErrorReason error_reason_last() {
    return last_reason;
}

void error_reason_clear() {
    last_reason = ERROR_REASON_NONE;
}
