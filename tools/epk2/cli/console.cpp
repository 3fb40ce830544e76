#include "cli/cli.h"

#include "platform/platform.h"

void print_error(Console& console, const std::string& text) {
    // The parts taken from names are escaped already; this catches any
    // argument a message echoes, so nothing reaches the terminal raw.
    std::fprintf(console.err, "epk2: %s\n", to_console_from_terminal(text).c_str());
    std::fflush(console.err);
}

std::string os_reason() {
    char text[512];
    return to_console(platform_error_text(platform_error_code(), text, sizeof text));
}
