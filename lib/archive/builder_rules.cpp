// The packing rules: "_config.txt" lines after "[NoCompression]" are
// wildcard patterns of files that are stored uncompressed. The patterns are
// sorted once by their shape (see platform/wildcard_index.h), so a rule file
// as long as a game could write costs little per file; past 1 MiB or 65,536
// patterns it is refused by name rather than read in part, and lines of
// blanks are no patterns.
#include <cstring>

#include "archive/archive_builder.h"
#include "fs/filesystem.h"
#include "platform/platform.h"
#include "platform/wildcard_index.h"
#include "stream/stream.h"
#include "support/text.h"

namespace {

constexpr uint32_t CONFIG_LINE_SIZE = 1024;
constexpr uint32_t PACKING_RULES_MAX_BYTES = 1024 * 1024;
constexpr size_t PACKING_RULES_MAX_PATTERNS = 65536;

// A line of blanks (or none) can name no file.
bool is_blank(const char* line) {
    while (*line == ' ') {
        ++line;
    }
    return *line == '\0';
}

bool refuse(Stream* stream, std::vector<std::string>& patterns, size_t kept, std::string* error,
            const std::string& why) {
    stream_close(stream);
    patterns.resize(kept);
    if (error) {
        *error = why;
    }
    return false;
}

} // namespace

bool read_packing_rules(FileSystem* fs, std::vector<std::string>& patterns, std::string* error) {
    Stream* stream = fs_open(fs, "_config.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    if (!stream) {
        return true;
    }
    const size_t kept = patterns.size();
    const uint32_t size = stream_size(stream);
    if (size > PACKING_RULES_MAX_BYTES) {
        return refuse(stream, patterns, kept, error,
                      "_config.txt holds " + std::to_string(size) + " bytes, more than the " +
                          std::to_string(PACKING_RULES_MAX_BYTES) + " (1 MiB) allowed");
    }
    bool collecting = false;
    char line[CONFIG_LINE_SIZE];
    // Every line but the last takes at least one byte, so a stream that
    // reads more lines than that does not come to its end.
    for (uint32_t lines = 0; stream_state(stream) != STREAM_STATE_END; ++lines) {
        if (lines > size) {
            return refuse(stream, patterns, kept, error, "_config.txt cannot be read to its end");
        }
        read_line(stream, line, sizeof line);
        if (line[0] == '[') {
            // Only the exact header starts the list; other sections are
            // skipped without ending it.
            if (std::strcmp(line, "[NoCompression]") == 0) {
                collecting = true;
            }
        } else if (collecting && !is_blank(line)) {
            if (patterns.size() - kept == PACKING_RULES_MAX_PATTERNS) {
                return refuse(stream, patterns, kept, error,
                              "_config.txt lists more than " +
                                  std::to_string(PACKING_RULES_MAX_PATTERNS) +
                                  " [NoCompression] patterns");
            }
            patterns.emplace_back(line);
        }
    }
    stream_close(stream);
    return true;
}

void index_packing_rules(const std::vector<std::string>& patterns, WildcardIndex& index) {
    for (const std::string& pattern : patterns) {
        wildcard_index_add(index, pattern.c_str());
    }
}

bool matches_no_compression(const std::vector<std::string>& patterns, const std::string& path) {
    WildcardIndex index;
    index_packing_rules(patterns, index);
    return wildcard_index_match(index, path.c_str());
}
