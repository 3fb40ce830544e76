#include "cli/cli.h"

#include <cstdio>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <string>
#include <vector>

#include "platform/wide_text.h"
#define IS_TERMINAL(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define IS_TERMINAL(f) isatty(fileno(f))
#endif

#ifdef _WIN32
namespace {

// The command line as Windows holds it, in UTF-16, converted to code page
// 932, the tool's own text. The runtime's argv would come through the
// system's ANSI code page instead, which on a Windows of another language
// has no form for Japanese names. An argument with no code page 932 form is
// refused, naming it, rather than changed into another name.
bool arguments_cp932(Console& console, std::vector<std::string>& arguments) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        std::fprintf(console.err, "epk2: cannot read the command line\n");
        return false;
    }
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        std::vector<char> text(2 * static_cast<size_t>(lstrlenW(wide[i])) + 1);
        if (platform_wide_to_cp932(wide[i], text.data(), static_cast<uint32_t>(text.size()))) {
            arguments.emplace_back(text.data());
            continue;
        }
        platform_wide_to_cp932_shown(wide[i], text.data(), static_cast<uint32_t>(text.size()));
        if (i == 0) {
            // The program's own path names nothing the tool opens.
            arguments.emplace_back(text.data());
            continue;
        }
        std::fprintf(console.err,
                     "epk2: argument %d \"%s\" has characters with no Shift_JIS (code page 932) "
                     "form (shown as ?); the tool's names are code page 932\n",
                     i, text.data());
        ok = false;
    }
    LocalFree(wide);
    return ok;
}

} // namespace
#endif

int cli_process_main(int argc, char** argv, int (*run)(int argc, char** argv, Console& console)) {
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
    std::vector<std::string> arguments;
    std::vector<char*> pointers;
    int status = EXIT_USAGE;
    if (arguments_cp932(console, arguments)) {
        for (std::string& argument : arguments) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);
        status = run(static_cast<int>(arguments.size()), pointers.data(), console);
    }
    (void)argc;
    (void)argv;
#else
    int status = run(argc, argv, console);
#endif
    std::fflush(stdout);
#ifdef _WIN32
    wide_console_finish();
#endif
    return status;
}
