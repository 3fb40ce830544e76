#include "cli/cli.h"

#include <algorithm>

bool Arguments::has(const std::string& name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const auto& option) { return option.first == name; });
}

std::string Arguments::value(const std::string& name, const std::string& fallback) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it) {
        if (it->first == name) {
            return it->second;
        }
    }
    return fallback;
}

bool argument_to_library(Console& console, const std::string& argument, std::string& path) {
    if (!from_console(argument, path)) {
        print_error(console, argument + ": the name has no Shift_JIS (code page 932) form");
        return false;
    }
    return true;
}
