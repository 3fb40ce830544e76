#include <cstdio>

#include "cli.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "wide_console.h"
#define IS_TERMINAL(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define IS_TERMINAL(f) isatty(fileno(f))
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Entry contents go to standard output byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    // An interrupted pack, merge, extract or update leaves no work file behind.
    platform_interrupt_cleanup_install();
    Console console{stdout, stderr, IS_TERMINAL(stderr) != 0};
#ifdef _WIN32
    // Japanese shows on a console of any code page (decided after the
    // terminal test above: the streams become pipes to the console).
    wide_console_attach(stdout);
    wide_console_attach(stderr);
#endif
    int status = epk2_main(argc, argv, console);
    std::fflush(stdout);
#ifdef _WIN32
    wide_console_finish();
#endif
    return status;
}
