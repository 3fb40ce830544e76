// One-line library messages: to a hook when one is installed, else to the
// debugger output. Never shown to the updater's user.
#pragma once

#include <cstdint>

typedef void (*MessageHook)(intptr_t value, const char* text);

enum MessageKind {
    MESSAGE_PLAIN = 0,
    MESSAGE_INFORMATION = 1,
    MESSAGE_WARNING = 2,
    MESSAGE_ERROR = 3,
    MESSAGE_QUESTION = 4,
};

// Every message is built in a buffer of this size and cut to fit it; a cut
// message still ends with its line feed.
constexpr uint32_t MESSAGE_BUFFER_SIZE = 1024;

#if defined(__GNUC__)
#define MESSAGE_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define MESSAGE_FORMAT(a, b)
#endif

void log_message(const char* format, ...) MESSAGE_FORMAT(1, 2);
void log_message_raw(const char* format, ...) MESSAGE_FORMAT(1, 2);
void report_error(const char* format, ...) MESSAGE_FORMAT(1, 2);
void report_warning(const char* format, ...) MESSAGE_FORMAT(1, 2);
void report_failure(const char* format, ...) MESSAGE_FORMAT(1, 2);
void set_message_hook(intptr_t value, MessageHook hook);
void debug_output(const char* text);
int show_message_box(const char* text, const char* caption, MessageKind kind);
