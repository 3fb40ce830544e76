// Helpers for the platform tests, which run on both builds.
#pragma once

#include <string>

#include "platform/platform.h"

// Joins with the platform's separator.
inline std::string join_path(const std::string& folder, const std::string& name) {
    return folder + platform_separator() + name;
}

// An absolute root of this platform's paths.
inline std::string platform_root() {
#ifdef _WIN32
    return "C:\\";
#else
    return "/";
#endif
}
