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

// Why the last failure on this thread happened, beside its message: callers
// decide by the reason, never by a message's wording.
enum ErrorReason {
    ERROR_REASON_NONE = 0,
    ERROR_REASON_NOT_FOUND,     // no such file, or no such entry in an archive
    ERROR_REASON_NOT_ARCHIVE,   // the file is not an EPK2 archive at all
    ERROR_REASON_DAMAGED,       // an archive whose header, table or data are broken
    ERROR_REASON_UNSUPPORTED,   // a version, size or request the library does not handle
    ERROR_REASON_IO_ERROR,      // the operating system refused or failed a transfer
    ERROR_REASON_OUT_OF_MEMORY, // an allocation failed
};
void error_reason_set(ErrorReason reason);
ErrorReason error_reason_last();
void error_reason_clear();
// Records the reason, then reports as report_error does.
void report_reason(ErrorReason reason, const char* format, ...) MESSAGE_FORMAT(2, 3);
void debug_output(const char* text);
int show_message_box(const char* text, const char* caption, MessageKind kind);
