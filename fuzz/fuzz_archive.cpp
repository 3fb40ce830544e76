// Opens the input as an EPK2 archive held in memory, walks its tree, reads
// every entry to its end and checks its layout as "epk2 verify" does. Bits of
// the header's reserved word (ignored by the reader) choose extra routes: bit
// 0 opens the same bytes as a file on disk and requires the same answers and
// the same layout findings, bit 1 packs the archive into a new one with the
// builder and requires the same entries and contents back, laid out with no
// finding at all.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_builder.h"
#include "archive/archive_check.h"
#include "archive/archive_fs.h"
#include "archive/epk2_format.h"
#include "fs/filesystem.h"
#include "fuzz_support.h"
#include "stream/stream.h"
#include "update/version_info.h"

namespace {

// Work limits per input, so that one input cannot take seconds.
constexpr size_t MAX_FILES_READ = 512;
constexpr size_t MAX_DIRS_LISTED = 64;
constexpr uint64_t MAX_MERGE_BYTES = 8u << 20;

constexpr size_t RESERVED_ROUTE_BYTE = 6;
constexpr uint8_t ROUTE_DISK = 1;
constexpr uint8_t ROUTE_MERGE = 2;

struct Listed {
    std::string name;
    uint32_t size;
    uint32_t attributes;
    bool operator==(const Listed& other) const {
        return name == other.name && size == other.size && attributes == other.attributes;
    }
};

struct Content {
    std::string bytes;
    bool intact = false;
    bool operator==(const Content& other) const {
        return bytes == other.bytes && intact == other.intact;
    }
};

// What a walk over an opened archive saw.
struct Snapshot {
    std::vector<Listed> entries;
    std::map<std::string, Content> files;
    uint64_t declared_bytes = 0;
    std::vector<std::string> findings; // of archive_check, "VERDICT where: reason"
};

void collect_finding(void* context, ArchiveVerdict verdict, const char* where, const char* reason) {
    static_cast<std::vector<std::string>*>(context)->push_back(
        std::string(archive_verdict_name(verdict)) + " " + where + ": " + reason);
}

// The layout check, with the archive's bytes when it was opened from memory.
std::vector<std::string> check_layout(FileSystem* fs, const uint8_t* data, size_t size) {
    std::vector<std::string> findings;
    uint32_t count = archive_check(fs, data, uint32_t(size), &findings, collect_finding);
    if (count != findings.size()) {
        fuzz_fail("archive_check counts %u findings but reported %zu", count, findings.size());
    }
    return findings;
}

int collect(void* context, FileSystem*, DirEntry* entry) {
    size_t length = strnlen(entry->name, sizeof entry->name);
    if (length == sizeof entry->name) {
        fuzz_fail("enumerated name is not terminated");
    }
    static_cast<std::vector<Listed>*>(context)->push_back(
        {std::string(entry->name, length), entry->size, entry->attributes});
    return 1;
}

bool is_directory(const Listed& entry) {
    return (entry.attributes & DIRENTRY_DIRECTORY) != 0;
}

// Names are absolute; an empty component (a record whose stored name is
// empty, or one below it) gives a path that no lookup finds.
void check_name_shape(FileSystem* fs, const std::string& name) {
    if (name.empty() || name[0] != '/') {
        fuzz_fail("enumerated name \"%s\" is not an absolute path", name.c_str());
    }
    ArchiveEntryInfo info{};
    if (archive_path_has_empty_name(name.c_str()) && archive_entry_info(fs, name.c_str(), &info)) {
        fuzz_fail("a path with an empty name, \"%s\", finds a file", name.c_str());
    }
}

// Descrambles stored bytes the way the format defines it.
std::string descramble(const std::string& stored, uint8_t key) {
    std::string plain = stored;
    const unsigned char* table = epk2_key(key);
    if (table) {
        for (size_t i = 0; i < plain.size() && i < EPK2_SCRAMBLE_LIMIT; ++i) {
            plain[i] = static_cast<char>(plain[i] ^ table[i % EPK2_KEY_LENGTH]);
        }
    }
    return plain;
}

// Inflates in one go, independently of the entry stream: at most limit
// bytes (size + 1 shows an overlong stream). ended: the zlib stream ended
// cleanly, its Adler-32 checked.
std::string inflate_reference(const std::string& compressed, uint32_t limit, bool& ended) {
    std::string out;
    z_stream z{};
    ended = false;
    if (inflateInit(&z) != Z_OK) {
        fuzz_fail("inflateInit failed");
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    // The output grows as it fills: a record may claim up to 4 GiB.
    while (out.size() < limit) {
        size_t used = out.size();
        size_t room = std::min<size_t>(limit - used, 1u << 16);
        out.resize(used + room);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
        z.avail_out = static_cast<uInt>(room);
        int result = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - z.avail_out);
        if (result == Z_STREAM_END) {
            ended = true;
            break;
        }
        if (result != Z_OK || (out.size() == used && z.avail_out != 0)) {
            break;
        }
    }
    inflateEnd(&z);
    return out;
}

// Reads a whole stream in chunks whose sizes follow seed. A stream that
// delivers nothing must say it has ended, or line readers would spin.
std::string read_all(Stream* stream, uint32_t seed, uint32_t limit) {
    std::string out;
    std::vector<char> buffer(4096);
    uint32_t step = seed;
    for (;;) {
        step = step * 1103515245u + 12345u;
        uint32_t want = 1 + (step >> 16) % static_cast<uint32_t>(buffer.size());
        uint32_t got = stream_read(stream, buffer.data(), want);
        if (got > want) {
            fuzz_fail("read delivered %u bytes for %u asked", got, want);
        }
        out.append(buffer.data(), got);
        if (out.size() > limit) {
            fuzz_fail("stream delivered %zu bytes, more than the %u it holds", out.size(), limit);
        }
        if (got == 0) {
            if (stream_state(stream) != STREAM_STATE_END) {
                fuzz_fail("stream delivers nothing but does not report its end");
            }
            break;
        }
        if (stream_state(stream) == STREAM_STATE_END) {
            // Nothing more may come once the end is reported.
            if (stream_read(stream, buffer.data(), 1) != 0) {
                fuzz_fail("stream delivered a byte after reporting its end");
            }
            break;
        }
    }
    return out;
}

// Reads one file by its name and checks it against its stored bytes. A name
// below a directory that shares its name with a sibling may lead elsewhere
// (lookups take the first of equal names), so only then may it be missing.
bool read_entry(FileSystem* fs, const std::string& name, uint32_t seed, bool required,
                Content& content) {
    ArchiveEntryInfo info{};
    if (!archive_entry_info(fs, name.c_str(), &info)) {
        if (required) {
            fuzz_fail("enumerated file \"%s\" has no record", name.c_str());
        }
        return false;
    }
    Stream* stream = fs_open(fs, name.c_str(), 0, 0, STREAM_OPEN_READ, nullptr);
    if (!stream) {
        fuzz_fail("file \"%s\" has a record but does not open", name.c_str());
    }
    content.bytes = read_all(stream, seed, info.size);
    bool compressed = info.stored_size != info.size;
    content.intact = compressed ? entry_stream_intact(stream) : true;
    stream_close(stream);

    Stream* raw = archive_open_stored(fs, name.c_str(), nullptr);
    if (!raw) {
        fuzz_fail("stored bytes of \"%s\" do not open", name.c_str());
    }
    std::string stored = read_all(raw, seed ^ 0x5A5A5A5Au, info.stored_size);
    stream_close(raw);
    if (stored.size() != info.stored_size) {
        fuzz_fail("\"%s\": %zu stored bytes read of %u", name.c_str(), stored.size(),
                  info.stored_size);
    }
    std::string plain = descramble(stored, info.key);
    if (!compressed) {
        if (content.bytes != plain) {
            fuzz_fail("stored entry \"%s\" differs from its descrambled bytes", name.c_str());
        }
        return true;
    }
    if (content.intact && content.bytes.size() != info.size) {
        fuzz_fail("\"%s\" is called intact with %zu of %u bytes", name.c_str(),
                  content.bytes.size(), info.size);
    }
    // Overlong streams are cut at size; one byte more shows them.
    uint32_t limit = info.size < (64u << 20) ? info.size + 1 : info.size;
    bool ended = false;
    std::string expected = inflate_reference(plain, limit, ended);
    bool expected_intact = ended && expected.size() == info.size;
    if (expected.size() > info.size) {
        expected.resize(info.size);
    }
    if (content.bytes != expected) {
        fuzz_fail("\"%s\": entry stream gave %zu bytes, zlib %zu (or other bytes)", name.c_str(),
                  content.bytes.size(), expected.size());
    }
    if (limit > info.size && content.intact != expected_intact) {
        fuzz_fail("\"%s\": entry stream says intact=%d, zlib says %d", name.c_str(),
                  int(content.intact), int(expected_intact));
    }
    return true;
}

// True when some directory on the way to name shares its path with another.
bool ambiguous(const std::string& name, const std::map<std::string, int>& directory_names) {
    for (size_t slash = name.find('/', 1); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
        auto found = directory_names.find(name.substr(0, slash));
        if (found != directory_names.end() && found->second > 1) {
            return true;
        }
    }
    return false;
}

// The direct children of dir in a recursive listing, in listing order (a
// child whose stored name is empty is the prefix itself).
std::vector<Listed> children_of(const std::vector<Listed>& all, const std::string& dir) {
    std::string prefix = dir == "/" ? "/" : dir + "/";
    std::vector<Listed> children;
    for (const Listed& entry : all) {
        if (entry.name.size() >= prefix.size() &&
            entry.name.compare(0, prefix.size(), prefix) == 0 &&
            entry.name.find('/', prefix.size()) == std::string::npos) {
            children.push_back(entry);
        }
    }
    return children;
}

Snapshot explore(FileSystem* fs, const uint8_t* data, size_t size) {
    Snapshot snap;
    ArchiveHeaderInfo header{};
    if (!archive_is_archive(fs) || !archive_header_info(fs, &header)) {
        fuzz_fail("opened archive does not describe itself");
    }
    if (fs_enumerate(fs, "/", 1, &snap.entries, collect) != 1) {
        fuzz_fail("the root does not enumerate");
    }
    if (snap.entries.size() > uint64_t(header.dir_count) - 1 + header.file_count) {
        fuzz_fail("%zu entries listed from %u directories and %u files", snap.entries.size(),
                  header.dir_count, header.file_count);
    }
    std::map<std::string, int> directory_names;
    for (const Listed& entry : snap.entries) {
        check_name_shape(fs, entry.name);
        if (is_directory(entry) && !archive_path_has_empty_name(entry.name.c_str())) {
            ++directory_names[entry.name];
        }
    }

    // A plain listing of a directory shows exactly its direct children,
    // unless a directory of the same path (itself or one on the way) leads
    // the lookup elsewhere.
    std::vector<std::string> dirs = {"/"};
    for (const auto& [name, count] : directory_names) {
        if (count == 1 && !ambiguous(name, directory_names)) {
            dirs.push_back(name);
        }
    }
    for (size_t i = 0; i < dirs.size() && i < MAX_DIRS_LISTED; ++i) {
        std::vector<Listed> listed;
        if (fs_enumerate(fs, dirs[i].c_str(), 0, &listed, collect) != 1) {
            // A directory may share its path with a file that the lookup
            // finds first (a file record with the directory bit is listed as
            // a file, yet its name can shadow a real directory); nothing
            // else may fail.
            ArchiveEntryInfo info{};
            if (archive_entry_info(fs, dirs[i].c_str(), &info)) {
                continue;
            }
            fuzz_fail("listed directory \"%s\" does not enumerate", dirs[i].c_str());
        }
        if (!(listed == children_of(snap.entries, dirs[i]))) {
            fuzz_fail("plain listing of \"%s\" differs from the recursive one", dirs[i].c_str());
        }
        // The same directory given relative to the root.
        if (dirs[i] != "/") {
            std::vector<Listed> relative;
            if (fs_enumerate(fs, dirs[i].c_str() + 1, 0, &relative, collect) != 1 ||
                relative.size() != listed.size()) {
                fuzz_fail("relative listing of \"%s\" differs", dirs[i].c_str());
            }
        }
    }

    size_t read = 0;
    for (const Listed& entry : snap.entries) {
        if (is_directory(entry) || snap.files.count(entry.name) ||
            archive_path_has_empty_name(entry.name.c_str())) {
            continue;
        }
        if (read++ == MAX_FILES_READ) {
            break;
        }
        Content content;
        if (read_entry(fs, entry.name, uint32_t(read) * 2654435761u,
                       !ambiguous(entry.name, directory_names), content)) {
            snap.declared_bytes += content.bytes.size();
            snap.files[entry.name] = content;
        }
    }

    // Lookups of names that may or may not exist must only answer.
    std::string probe(reinterpret_cast<const char*>(data), std::min<size_t>(size, 600));
    probe.erase(std::find(probe.begin(), probe.end(), '\0'), probe.end());
    for (const std::string& path : {probe, "/" + probe, std::string(""), std::string("/"),
                                    std::string("//"), std::string("info.txt/x")}) {
        if (Stream* stream = fs_open(fs, path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr)) {
            stream_close(stream);
        }
        std::vector<Listed> ignored;
        fs_enumerate(fs, path.c_str(), 1, &ignored, collect);
    }
    if (fs_open(fs, snap.files.empty() ? "info.txt" : snap.files.begin()->first.c_str(), 0, 0,
                STREAM_OPEN_WRITE, nullptr)) {
        fuzz_fail("an archive entry opened for writing");
    }

    VersionInfo info{};
    read_version_info(fs, &info);
    for (const char* field : {info.identifer, info.version, info.attribute}) {
        if (strnlen(field, VERSION_FIELD_SIZE) == VERSION_FIELD_SIZE) {
            fuzz_fail("version field is not terminated");
        }
        parse_version(field);
    }
    std::vector<std::string> patterns;
    read_packing_rules(fs, patterns);
    return snap;
}

void check_disk_route(const uint8_t* data, size_t size, FileSystem* memory_fs,
                      const Snapshot* memory_snap) {
    static const std::string path = fuzz_temp_path("archive.epk");
    if (!fuzz_write_file(path, data, size)) {
        fuzz_fail("cannot write %s", path.c_str());
    }
    FileSystem* fs = archive_open(nullptr, path.c_str(), nullptr);
    if (!fs != !memory_fs) {
        fuzz_fail("archive opens %s from memory but %s from disk", memory_fs ? "" : "not",
                  fs ? "" : "not");
    }
    if (!fs) {
        return;
    }
    Snapshot snap = explore(fs, data, size);
    // Header and padding come through the file this time.
    snap.findings = check_layout(fs, nullptr, 0);
    fs_close(fs);
    if (!(snap.entries == memory_snap->entries) || !(snap.files == memory_snap->files)) {
        fuzz_fail("the archive reads differently from disk and from memory");
    }
    if (snap.findings != memory_snap->findings) {
        fuzz_fail("the layout check finds %zu deviations on disk, %zu in memory",
                  snap.findings.size(), memory_snap->findings.size());
    }
}

bool merge_drops(const std::string& path) {
    return path.find(".svn") != std::string::npos || archive_path_has_empty_name(path.c_str());
}

void check_merge_route(FileSystem* fs, const Snapshot& snap) {
    if (snap.declared_bytes > MAX_MERGE_BYTES || snap.files.size() >= MAX_FILES_READ) {
        return;
    }
    static const std::string output = fuzz_temp_path("merged.epk");
    ArchiveBuilder builder;
    builder.options.log = nullptr;
    if (!builder.pack(output.c_str(), fs, nullptr, nullptr, nullptr)) {
        return; // hostile sources may be refused; what matters is what is written
    }
    FileSystem* merged = archive_open(nullptr, output.c_str(), nullptr);
    if (!merged) {
        fuzz_fail("the builder reported success but its archive does not open");
    }
    std::vector<Listed> entries;
    fs_enumerate(merged, "/", 1, &entries, collect);
    std::set<std::pair<std::string, bool>> expected, got;
    for (const Listed& entry : snap.entries) {
        if (!merge_drops(entry.name)) {
            expected.insert({entry.name, is_directory(entry)});
        }
    }
    for (const Listed& entry : entries) {
        got.insert({entry.name, is_directory(entry)});
    }
    if (got != expected || got.size() != entries.size()) {
        fuzz_fail("the packed archive holds %zu entries (%zu distinct), the source %zu",
                  entries.size(), got.size(), expected.size());
    }
    for (const Listed& entry : entries) {
        if (is_directory(entry)) {
            continue;
        }
        auto source = snap.files.find(entry.name);
        if (source == snap.files.end()) {
            fuzz_fail("packed file \"%s\" was not read from the source", entry.name.c_str());
        }
        Content content;
        read_entry(merged, entry.name, 7, true, content);
        if (!(content == source->second)) {
            fuzz_fail("packed file \"%s\" differs from its source", entry.name.c_str());
        }
    }
    std::vector<std::string> findings = check_layout(merged, nullptr, 0);
    if (!findings.empty()) {
        fuzz_fail("the builder's archive breaks its own layout: %s", findings[0].c_str());
    }
    fs_close(merged);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_quiet_messages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF) {
        return 0;
    }
    FileSystem* fs = archive_open_memory(data, static_cast<uint32_t>(size), nullptr);
    uint8_t routes = size > RESERVED_ROUTE_BYTE ? data[RESERVED_ROUTE_BYTE] : 0;
    Snapshot snap;
    if (fs) {
        snap = explore(fs, data, size);
        snap.findings = check_layout(fs, data, size);
    }
    if (routes & ROUTE_DISK) {
        check_disk_route(data, size, fs, fs ? &snap : nullptr);
    }
    if (fs && (routes & ROUTE_MERGE)) {
        check_merge_route(fs, snap);
    }
    if (fs) {
        fs_close(fs);
    }
    return 0;
}
