// Patch signatures on the command line: keygen, sign, and the --public-key
// checks of verify and update (see support/signature.h for the forms).
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/console.h"

struct FileSystem;

// Reads the key file named on the command line (at most KEY_FILE_MAX_SIZE
// bytes) into text. On failure prints "epk2: COMMAND: FILE: why" and returns
// false.
bool read_key_file(Console& console, const char* command, const std::string& argument,
                   std::string* text);

// The check of "verify --public-key KEY": EXIT_OK when the option is absent
// or the publisher signed exactly the bytes of archive (ARCHIVE's .sig
// beside it); otherwise says why, naming the file at fault, and returns
// EXIT_DAMAGED (EXIT_USAGE when the key file cannot be read).
int verify_archive_signature(const Arguments& args, Console& console, FileSystem* archive);
