// Packs a small tree described by the input and reads the archive back:
// every entry must come back in the builder's order with its content, and
// the builder must not refuse a tree that keeps within the format's limits.
//
// Up to two source trees are built (names without "/" or NUL, paths below
// 512 bytes and 64 components), the first possibly with a "_config.txt". The
// mode packs the first tree alone, the first over the second, or first packs
// the first tree into an archive and then that archive over the second tree
// (which copies stored bytes from an archive source).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "fs/filesystem.h"
#include "fuzz_support.h"
#include "stream/stream.h"

namespace {

constexpr size_t MAX_ENTRIES = 48;
constexpr size_t PATH_LIMIT = 511;
constexpr size_t COMPONENT_LIMIT = 63;
constexpr size_t LARGE_LIMIT = (1u << 20) + (1u << 19);

std::string make_name(FuzzedDataProvider& input) {
    std::string name = input.ConsumeRandomLengthString(24);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '/' || c == 0; }),
               name.end());
    return name;
}

std::string make_content(FuzzedDataProvider& input, bool large) {
    if (!large) {
        return input.ConsumeRandomLengthString(2048);
    }
    // Beyond 1 MiB the builder streams instead of preparing in memory.
    std::string chunk = input.ConsumeRandomLengthString(64);
    if (chunk.empty()) {
        chunk = "x";
    }
    size_t target = input.ConsumeIntegralInRange<size_t>(1u << 20, LARGE_LIMIT);
    std::string content;
    content.reserve(target);
    while (content.size() < target) {
        content += chunk;
        // Some noise, so that not all of it deflates to nothing.
        content += char(content.size() * 2654435761u >> 24);
    }
    content.resize(target);
    return content;
}

std::vector<MemoryEntry> make_tree(FuzzedDataProvider& input, bool with_config) {
    std::vector<MemoryEntry> entries;
    std::vector<std::string> dirs = {""};
    size_t count = input.ConsumeIntegralInRange<size_t>(0, MAX_ENTRIES);
    int config_at = with_config ? int(input.ConsumeIntegralInRange<size_t>(0, count)) : -1;
    for (size_t i = 0; i <= count && input.remaining_bytes() > 0; ++i) {
        if (int(i) == config_at) {
            std::string config = input.ConsumeBool() ? "[NoCompression]\r\n" : "";
            config += input.ConsumeRandomLengthString(256);
            entries.push_back({"/_config.txt", config, false});
        }
        if (i == count) {
            break;
        }
        uint8_t kind = input.ConsumeIntegral<uint8_t>();
        const std::string& parent = dirs[input.ConsumeIntegralInRange<size_t>(0, dirs.size() - 1)];
        std::string name = make_name(input);
        std::string path = parent + "/" + name;
        if (name.empty() || path.size() > PATH_LIMIT ||
            size_t(std::count(path.begin(), path.end(), '/')) > COMPONENT_LIMIT) {
            continue;
        }
        if (kind % 4 == 0) {
            entries.push_back({path, "", true});
            dirs.push_back(path);
        } else {
            entries.push_back({path, make_content(input, kind == 0xFF), false});
        }
    }
    return entries;
}

struct Listed {
    std::string name;
    bool directory;
    bool operator==(const Listed& other) const {
        return name == other.name && directory == other.directory;
    }
};

int collect(void* context, FileSystem*, DirEntry* entry) {
    static_cast<std::vector<Listed>*>(context)->push_back(
        {entry->name, (entry->attributes & DIRENTRY_DIRECTORY) != 0});
    return 1;
}

// The tree the output should hold, in the builder's order: entries in the
// order the sources report them, the first report of a path winning.
struct ExpectedNode {
    std::vector<std::string> dirs, files; // children's full paths, first seen first
};

struct Expected {
    std::map<std::string, ExpectedNode> nodes{{"", {}}};
    std::map<std::string, std::string> contents;
    std::vector<std::string> file_order;
};

void add_source(Expected& expected, FileSystem* source) {
    std::vector<Listed> listed;
    fs_enumerate(source, "/", 1, &listed, collect);
    for (const Listed& entry : listed) {
        if (entry.name.find(".svn") != std::string::npos) {
            continue; // version-control folders are never packed
        }
        std::string parent = entry.name.substr(0, entry.name.rfind('/'));
        ExpectedNode& node = expected.nodes.at(parent);
        if (entry.directory) {
            if (!expected.nodes.count(entry.name)) {
                expected.nodes[entry.name] = {};
                node.dirs.push_back(entry.name);
            }
        } else if (!expected.contents.count(entry.name)) {
            Stream* stream = fs_open(source, entry.name.c_str(), 0, 0, STREAM_OPEN_READ, nullptr);
            if (!stream) {
                fuzz_fail("source file %s does not open", entry.name.c_str());
            }
            std::string content(stream_size(stream), '\0');
            if (stream_read(stream, content.data(), uint32_t(content.size())) != content.size()) {
                fuzz_fail("source file %s reads short", entry.name.c_str());
            }
            stream_close(stream);
            expected.contents[entry.name] = content;
            expected.file_order.push_back(entry.name);
            node.files.push_back(entry.name);
        }
    }
}

void expected_walk(const Expected& expected, const std::string& dir, std::vector<Listed>& out) {
    const ExpectedNode& node = expected.nodes.at(dir);
    for (const std::string& child : node.dirs) {
        out.push_back({child, true});
        expected_walk(expected, child, out);
    }
    for (const std::string& file : node.files) {
        out.push_back({file, false});
    }
}

struct Progress {
    uint32_t next = 0;
    uint32_t total = 0;
};

int on_progress(void* context, uint32_t index, uint32_t total) {
    auto* progress = static_cast<Progress*>(context);
    if (index != progress->next++ || total != progress->total) {
        fuzz_fail("progress %u of %u, expected %u of %u", index, total, progress->next - 1,
                  progress->total);
    }
    return 1;
}

std::string read_whole(FileSystem* fs, const std::string& path, bool& intact) {
    Stream* stream = fs_open(fs, path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr);
    if (!stream) {
        fuzz_fail("packed file %s does not open", path.c_str());
    }
    std::string content;
    char buffer[65536];
    while (stream_state(stream) != STREAM_STATE_END) {
        uint32_t n = stream_read(stream, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        content.append(buffer, n);
    }
    intact = entry_stream_intact(stream);
    stream_close(stream);
    return content;
}

void check_output(const std::string& output, const Expected& expected,
                  const std::vector<std::string>& patterns) {
    FileSystem* fs = archive_open(nullptr, output.c_str(), nullptr);
    if (!fs) {
        fuzz_fail("the packed archive does not open");
    }
    std::vector<Listed> listed, wanted;
    fs_enumerate(fs, "/", 1, &listed, collect);
    expected_walk(expected, "", wanted);
    if (!(listed == wanted)) {
        for (size_t i = 0; i < std::max(listed.size(), wanted.size()); ++i) {
            std::fprintf(stderr, "%3zu %-40s %s\n", i,
                         i < listed.size() ? listed[i].name.c_str() : "-",
                         i < wanted.size() ? wanted[i].name.c_str() : "-");
        }
        fuzz_fail("the archive lists %zu entries, the sources %zu (or in another order)",
                  listed.size(), wanted.size());
    }
    for (size_t i = 0; i < expected.file_order.size(); ++i) {
        const std::string& path = expected.file_order[i];
        ArchiveEntryInfo info{};
        if (!archive_entry_info(fs, path.c_str(), &info)) {
            fuzz_fail("packed file %s has no record", path.c_str());
        }
        const std::string& content = expected.contents.at(path);
        if (info.size != content.size() || info.key != i % 4 + 1) {
            fuzz_fail("%s: size %u key %u, expected %zu and %zu", path.c_str(), info.size,
                      unsigned(info.key), content.size(), i % 4 + 1);
        }
        bool compressed = info.stored_size != info.size;
        if (compressed && matches_no_compression(patterns, path)) {
            fuzz_fail("%s is compressed against the packing rules", path.c_str());
        }
        bool intact = false;
        if (read_whole(fs, path, intact) != content || (compressed && !intact)) {
            fuzz_fail("%s reads back differently", path.c_str());
        }
    }
    fs_close(fs);
}

bool pack(const std::string& output, FileSystem* first, FileSystem* second, Progress* progress) {
    ArchiveBuilder builder;
    builder.options.log = nullptr;
    if (!builder.pack(output.c_str(), first, second, progress, progress ? on_progress : nullptr)) {
        fuzz_fail("the builder refused a valid tree: %s", builder.error().c_str());
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_quiet_messages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string output = fuzz_temp_path("roundtrip.epk");
    static const std::string staged = fuzz_temp_path("first.epk");
    FuzzedDataProvider input(data, size);
    int mode = input.ConsumeIntegralInRange<int>(0, 2);
    bool with_config = input.ConsumeBool();
    std::vector<MemoryEntry> first_tree = make_tree(input, with_config);
    std::vector<MemoryEntry> second_tree;
    if (mode > 0) {
        second_tree = make_tree(input, input.ConsumeBool());
    }

    FileSystem* first = memory_fs_open(first_tree);
    FileSystem* second = mode > 0 ? memory_fs_open(second_tree) : nullptr;
    if (mode == 2) {
        pack(staged, first, nullptr, nullptr);
        fs_close(first);
        first = archive_open(nullptr, staged.c_str(), nullptr);
        if (!first) {
            fuzz_fail("the staged archive does not open");
        }
    }

    Expected expected;
    add_source(expected, first);
    if (second) {
        add_source(expected, second);
    }
    std::vector<std::string> patterns;
    read_packing_rules(first, patterns);

    Progress progress;
    progress.total = uint32_t(expected.file_order.size());
    pack(output, first, second, &progress);
    if (progress.next != progress.total) {
        fuzz_fail("progress reported %u files of %u", progress.next, progress.total);
    }
    check_output(output, expected, patterns);
    fs_close(first);
    if (second) {
        fs_close(second);
    }
    return 0;
}
