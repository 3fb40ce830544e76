// The packing rules: "_config.txt" lines after "[NoCompression]" are
// wildcard patterns of files that are stored uncompressed.
#include <cstring>

#include "archive/archive_builder.h"
#include "fs/filesystem.h"
#include "platform/platform.h"
#include "stream/stream.h"
#include "support/text.h"

namespace {
constexpr uint32_t CONFIG_LINE_SIZE = 1024;
}

void read_packing_rules(FileSystem* fs, std::vector<std::string>& patterns) {
    Stream* stream = fs_open(fs, "_config.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    if (!stream) {
        return;
    }
    bool collecting = false;
    char line[CONFIG_LINE_SIZE];
    while (stream_state(stream) != STREAM_STATE_END) {
        read_line(stream, line, sizeof line);
        if (line[0] == '[') {
            // Only the exact header starts the list; other sections are
            // skipped without ending it.
            if (std::strcmp(line, "[NoCompression]") == 0) {
                collecting = true;
            }
        } else if (collecting) {
            patterns.emplace_back(line);
        }
    }
    stream_close(stream);
}

bool matches_no_compression(const std::vector<std::string>& patterns, const std::string& path) {
    for (const std::string& pattern : patterns) {
        if (platform_path_match_spec(path.c_str(), pattern.c_str())) {
            return true;
        }
    }
    return false;
}
