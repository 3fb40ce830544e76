#include "cli/cli.h"

#include "platform/platform.h"
#include "support/text.h"

namespace {
std::string full_path(const std::string& path) {
    char buffer[1024];
    uint32_t length = platform_full_path(buffer, sizeof buffer, path.c_str());
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
}
} // namespace

void drop_trailing_separators(std::string& path) {
    size_t keep = 0; // the end of the last character that is no separator
    for (size_t at = 0; at < path.size();) {
        size_t length = static_cast<size_t>(text_char_length(path.c_str() + at));
        bool separator = length == 1 && (path[at] == '/' || path[at] == '\\');
        at += length;
        if (!separator || keep == 0) {
            keep = at;
        }
    }
    path.resize(keep < path.size() ? keep : path.size());
}

std::vector<std::string> path_inside(const std::string& folder, const std::string& path) {
    std::string inside = full_path(folder);
    std::string full = full_path(path);
    drop_trailing_separators(inside);
    if (inside.size() != 1 || (inside[0] != '/' && inside[0] != platform_separator())) {
        inside += platform_separator();
    }
    if (full.compare(0, inside.size(), inside) != 0) {
        return {};
    }
    // From the separator that ends folder on, with "/" for every separator.
    std::string relative = full.substr(inside.size() - 1);
    for (char& c : relative) {
        c = c == platform_separator() ? '/' : c;
    }
    return {relative};
}
