// The packing rules of "_config.txt" and the wildcard matcher that applies
// them. Input: the "_config.txt" bytes up to the first "\0\0", then paths
// separated by NUL bytes. Every pattern read from the rules, and every path
// taken as a pattern too, is matched against every path, and each answer is
// compared with the reference matcher the unit tests trust too.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_builder.h"
#include "fs/filesystem.h"
#include "fuzz_support.h"
#include "platform/wildcard.h"
#include "support/reference_wildcard.h"
#include "support/text.h"

namespace {

constexpr size_t MAX_ITEMS = 64;
// Budget of path length times pattern length for the reference matcher; the
// matcher under test runs on every pair regardless.
constexpr uint64_t REFERENCE_BUDGET = 2u << 20;

// The rules as read, or none when the file is refused (over 1 MiB or more
// than 65,536 patterns). Lines of blanks only are no patterns.
std::vector<std::string> reference_rules(const std::string& config, bool& refused) {
    std::vector<std::string> patterns;
    refused = config.size() > (1u << 20);
    bool collecting = false;
    for (std::string line : reference_lines(config, 1024)) {
        line = line.substr(0, line.find('\0'));
        if (!line.empty() && line[0] == '[') {
            collecting = collecting || line == "[NoCompression]";
        } else if (collecting && line.find_first_not_of(' ') != std::string::npos) {
            patterns.push_back(line);
        }
    }
    refused = refused || patterns.size() > 65536;
    if (refused) {
        patterns.clear();
    }
    return patterns;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_quiet_messages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find(std::string("\0\0", 2));
    std::string config = input.substr(0, split);
    std::vector<std::string> paths;
    if (split != std::string::npos) {
        std::string rest = input.substr(split + 2);
        for (size_t start = 0; start <= rest.size() && paths.size() < MAX_ITEMS;) {
            size_t end = rest.find('\0', start);
            if (end == std::string::npos) {
                end = rest.size();
            }
            paths.push_back(rest.substr(start, end - start));
            start = end + 1;
        }
    }

    FileSystem* fs = memory_fs_open({{"/_config.txt", config, false}});
    std::vector<std::string> patterns;
    bool accepted = read_packing_rules(fs, patterns);
    fs_close(fs);
    bool refused = false;
    std::vector<std::string> expected = reference_rules(config, refused);
    if (accepted == refused) {
        fuzz_fail("rules %s, expected them %s", accepted ? "accepted" : "refused",
                  refused ? "refused" : "accepted");
    }
    if (patterns != expected) {
        fuzz_fail("%zu patterns read, %zu expected (or different ones)", patterns.size(),
                  expected.size());
    }
    if (patterns.size() > MAX_ITEMS) {
        patterns.resize(MAX_ITEMS);
    }

    std::vector<std::string> tried = patterns;
    tried.insert(tried.end(), paths.begin(), paths.end());
    uint64_t budget = REFERENCE_BUDGET;
    for (const std::string& path : paths) {
        bool any_rule = false;
        for (size_t i = 0; i < tried.size(); ++i) {
            bool got = wildcard_match(path.c_str(), tried[i].c_str());
            if (i < patterns.size()) {
                any_rule = any_rule || got;
            }
            uint64_t cost = uint64_t(path.size() + 1) * (tried[i].size() + 1);
            if (cost > budget) {
                continue;
            }
            budget -= cost;
            if (got != reference_wildcard_match(path, tried[i])) {
                fuzz_fail("wildcard_match(\"%s\", \"%s\") = %d", path.c_str(), tried[i].c_str(),
                          int(got));
            }
        }
        if (matches_no_compression(patterns, path) != any_rule) {
            fuzz_fail("matches_no_compression disagrees with the patterns for \"%s\"",
                      path.c_str());
        }
    }
    return 0;
}
