// Where a command writes, the exit statuses every command shares, and how a
// command says what went wrong.
#pragma once

#include <cstdio>
#include <string>

// Exit statuses shared by every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_DAMAGED = 1; // an archive is damaged, or the update was refused
constexpr int EXIT_USAGE = 2;   // bad command line, or an input/output error

// Where a command writes. Tests hand in temporary files; main() the
// standard streams.
struct Console {
    FILE* out;
    FILE* err;
    bool err_is_terminal; // progress bars only on a terminal
};

// "epk2: " + text (code page 932 parts already converted) + line feed.
void print_error(Console& console, const std::string& text);

// The operating system's words for the last failure ("Permission denied"),
// taken right after the failing call.
std::string os_reason();
