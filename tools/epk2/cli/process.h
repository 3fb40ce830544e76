// What every run of the tool does around its command: standard output in
// binary, Japanese on a Windows console of any code page, work files removed
// when the process is interrupted, and on Windows the command line taken in
// code page 932 from its UTF-16 form.
#pragma once

#include "cli/console.h"

// Calls run with the arguments and the standard streams; gives its status.
int cli_process_main(int argc, char** argv, int (*run)(int argc, char** argv, Console& console));
