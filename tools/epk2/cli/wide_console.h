// Japanese on any Windows console. The tool's text is code page 932; a pipe
// or a file gets those bytes as they are (what Windows tools write), but a
// console shows them right only when its own code page is 932. So when a
// standard stream is a console, its bytes go through a pipe to a thread that
// converts them to UTF-16 and writes them with WriteConsoleW.
#pragma once

#include <cstddef>
#include <cstdio>

// How many of the first count bytes end on a whole code page 932
// character: a lead byte at the very end waits for its trail byte.
size_t cp932_whole_characters(const char* data, size_t count);

#ifdef _WIN32
// Reroutes file (stdout or stderr) when it is a console; false, changing
// nothing, when it is not. Call wide_console_finish before the process ends.
bool wide_console_attach(FILE* file);
// Flushes the rerouted streams and waits until their text is on the console.
void wide_console_finish();
#endif
