#include "cli/cli.h"

#include <cstdio>

std::string format_bytes(double bytes) {
    static const char* units[] = {"B", "KB", "MB", "GB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 3) {
        bytes /= 1000.0;
        ++unit;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return buffer;
}
