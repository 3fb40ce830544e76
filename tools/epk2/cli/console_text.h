// Library text is code page 932. The terminal and the command line speak
// UTF-8 on Linux and the ANSI code page (932 on a Japanese system) on
// Windows, so text is converted where it enters and leaves the tool.
#pragma once

#include <string>

// For display: bytes that have no form in the terminal's encoding come out as
// \xNN escapes, so a damaged name is still shown and never garbles the line.
// Control characters (below 0x20, 0x7F, and whatever becomes a C1 control)
// are escaped too, "\n", "\r" and "\t" by name and the others as \xNN, so
// a name can neither act on the terminal nor start a line of its own.
std::string to_console(const std::string& cp932);

// For display of text already in the terminal's encoding, such as an
// argument as the user typed it: control characters are escaped as
// to_console escapes them, and on Linux so is every byte that is not part of
// a valid UTF-8 character, so an argument cannot act on the terminal either.
// Text that went through to_console comes out unchanged.
std::string to_console_from_terminal(const std::string& text);

// An archive path for display, as to_console shows it, with each empty name
// below the root shown as "" (quotes included): a record whose stored name
// is empty would otherwise look like a folder ("/data/") or vanish. "/" is
// such a record at the top (the root itself is never listed).
std::string to_console_path(const std::string& cp932_path);

// For library calls: false when the text has no code page 932 form.
bool from_console(const std::string& text, std::string& cp932);

// JSON string body (without quotes) of a code page 932 text, as UTF-8.
std::string to_json_string(const std::string& cp932);
