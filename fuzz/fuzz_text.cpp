// The text routines that meet outside bytes: the line reader over several
// stream kinds and buffer sizes, the in-place splitter, the path routines
// and both UTF converters with capacities of every size. Every destination
// is followed by guard bytes that must come back untouched, and every
// answer is compared with a plain reimplementation.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_fs.h"
#include "archive/epk2_format.h"
#include "fuzz_support.h"
#include "stream/stream.h"
#include "support/memory.h"
#include "support/text.h"

namespace {

constexpr size_t GUARD = 16;
constexpr unsigned char GUARD_BYTE = 0xA5;

void check_guard(const unsigned char* guard, size_t count, const char* what) {
    for (size_t i = 0; i < count; ++i) {
        if (guard[i] != GUARD_BYTE) {
            fuzz_fail("%s wrote %zu bytes past its capacity", what, i + 1);
        }
    }
}

// A stream over text of the chosen kind; the stream owns what it needs.
Stream* open_text_stream(const std::string& text, int kind, uint8_t extra) {
    uint32_t size = static_cast<uint32_t>(text.size());
    switch (kind) {
    case 1: { // a window onto a larger buffer
        uint32_t before = extra % 7, after = extra / 7 % 5;
        auto* bytes = static_cast<unsigned char*>(mem_alloc(nullptr, before + size + after + 1, 0));
        std::memset(bytes, 'z', before + size + after + 1);
        std::memcpy(bytes + before, text.data(), size);
        Stream* memory =
            stream_open_memory(bytes, before + size + after, STREAM_OPEN_READ, 1, nullptr);
        return stream_open_range(memory, 1, before, size, STREAM_OPEN_READ, nullptr);
    }
    case 2: { // scrambled bytes read through the descrambler
        uint8_t key_number = extra % EPK2_KEY_COUNT + 1;
        const unsigned char* key = epk2_key(key_number);
        auto* bytes = static_cast<unsigned char*>(mem_alloc(nullptr, size + 1, 0));
        for (uint32_t i = 0; i < size; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            bytes[i] = i < EPK2_SCRAMBLE_LIMIT ? c ^ key[i % EPK2_KEY_LENGTH] : c;
        }
        Stream* memory = stream_open_memory(bytes, size, STREAM_OPEN_READ, 1, nullptr);
        return stream_open_scramble(memory, key, EPK2_KEY_LENGTH, EPK2_SCRAMBLE_LIMIT, nullptr);
    }
    case 3: { // deflated bytes read through the inflating entry stream
        uLongf length = compressBound(size);
        auto* bytes = static_cast<unsigned char*>(mem_alloc(nullptr, uint32_t(length) + 1, 0));
        if (compress2(bytes, &length, reinterpret_cast<const Bytef*>(text.data()), size,
                      extra % 10) != Z_OK) {
            fuzz_fail("compress2 failed");
        }
        Stream* memory = stream_open_memory(bytes, uint32_t(length), STREAM_OPEN_READ, 1, nullptr);
        return stream_open_entry(memory, size, ENTRY_MODE_INFLATE, nullptr);
    }
    default: {
        auto* bytes = static_cast<unsigned char*>(mem_alloc(nullptr, size + 1, 0));
        std::memcpy(bytes, text.data(), size);
        return stream_open_memory(bytes, size, STREAM_OPEN_READ, 1, nullptr);
    }
    }
}

void check_read_line(const std::string& text, uint32_t size, int kind, uint8_t extra) {
    Stream* stream = open_text_stream(text, kind, extra);
    if (!stream) {
        fuzz_fail("text stream of kind %d does not open", kind);
    }
    std::vector<unsigned char> buffer(size + GUARD, GUARD_BYTE);
    char* line = reinterpret_cast<char*>(buffer.data());
    if (size < 2) {
        // No room for a byte: nothing is read and at most the NUL written.
        for (int i = 0; i < 3; ++i) {
            if (read_line(stream, size ? line : nullptr, size) != 0 ||
                read_line(stream, line, size) != 0) {
                fuzz_fail("read_line with size %u returned a count", size);
            }
        }
        if (size == 1 && line[0] != '\0') {
            fuzz_fail("read_line with size 1 left no terminator");
        }
        check_guard(buffer.data() + size, GUARD, "read_line");
        if (stream_tell(stream) != 0) {
            fuzz_fail("read_line with size %u consumed bytes", size);
        }
        stream_close(stream);
        return;
    }
    std::vector<std::string> expected = reference_lines(text, size);
    if (kind == 3 && text.empty()) {
        // An inflating stream learns that it holds nothing only at its first
        // read, so an empty entry reads as one empty line.
        expected.push_back("");
    }
    size_t index = 0;
    while (stream_state(stream) != STREAM_STATE_END) {
        if (index == expected.size()) {
            fuzz_fail("read_line yields more than %zu lines (kind %d, size %u)", expected.size(),
                      kind, size);
        }
        uint32_t count = read_line(stream, line, size);
        if (count >= size || line[count] != '\0') {
            fuzz_fail("read_line returned %u for size %u without a terminator after it", count,
                      size);
        }
        check_guard(buffer.data() + size, GUARD, "read_line");
        if (std::string(line, count) != expected[index]) {
            fuzz_fail("line %zu differs (kind %d, size %u): %u bytes, expected %zu", index, kind,
                      size, count, expected[index].size());
        }
        ++index;
    }
    if (index != expected.size()) {
        fuzz_fail("read_line yields %zu lines, expected %zu", index, expected.size());
    }
    stream_close(stream);
}

void check_split(std::string text, char separator, uint32_t maximum) {
    text = text.substr(0, text.find('\0'));
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    const size_t slots = maximum + 4;
    std::unique_ptr<char*[]> pieces(new char*[slots]);
    char sentinel = 0;
    for (size_t i = 0; i < slots; ++i) {
        pieces[i] = &sentinel;
    }
    uint32_t count = split_text(copy.get(), separator, pieces.get(), maximum);

    std::vector<std::string> expected;
    std::string cut = text;
    if (!text.empty() && maximum > 0) {
        if (separator == '\0') {
            expected.push_back(text);
        } else {
            size_t start = 0, cuts = 0;
            for (;;) {
                size_t found = text.find(separator, start);
                expected.push_back(text.substr(start, found - start));
                if (found == std::string::npos) {
                    break;
                }
                cut[found] = '\0';
                ++cuts;
                if (expected.size() == maximum) {
                    break;
                }
                start = found + 1;
            }
        }
    }
    if (count != expected.size()) {
        fuzz_fail("split_text gave %u pieces, expected %zu", count, expected.size());
    }
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i] < copy.get() || pieces[i] > copy.get() + text.size() ||
            expected[i] != pieces[i]) {
            fuzz_fail("piece %zu differs", i);
        }
    }
    for (size_t i = count; i < slots; ++i) {
        if (pieces[i] != &sentinel) {
            fuzz_fail("split_text wrote piece slot %zu of %u", i, count);
        }
    }
    if (std::memcmp(copy.get(), cut.data(), text.size() + 1) != 0) {
        fuzz_fail("split_text changed the text other than at the cuts");
    }
}

// Position just after the last separator, stepping over double-byte
// characters.
size_t reference_name_start(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size();) {
        if (text_is_lead_byte(static_cast<unsigned char>(path[i])) && i + 1 < path.size() &&
            text_is_trail_byte(static_cast<unsigned char>(path[i + 1]))) {
            i += 2;
            continue;
        }
        if (path[i] == '/' || path[i] == '\\') {
            start = i + 1;
        }
        ++i;
    }
    return start;
}

void check_paths(std::string path, std::string extension) {
    path = path.substr(0, path.find('\0'));
    extension = extension.substr(0, extension.find('\0'));
    std::unique_ptr<char[]> text(new char[path.size() + 1]);
    std::memcpy(text.get(), path.c_str(), path.size() + 1);

    size_t name = reference_name_start(path);
    if (path_file_name(text.get()) != text.get() + name) {
        fuzz_fail("path_file_name points elsewhere");
    }
    char* dot = path_extension(text.get());
    if (dot && (dot <= text.get() + name || dot[-1] != '.' || dot > text.get() + path.size())) {
        fuzz_fail("path_extension points outside the last component");
    }

    std::vector<unsigned char> directory(path.size() + 1 + GUARD, GUARD_BYTE);
    path_directory(reinterpret_cast<char*>(directory.data()), text.get());
    if (std::string(reinterpret_cast<char*>(directory.data())) != path.substr(0, name)) {
        fuzz_fail("path_directory differs");
    }
    check_guard(directory.data() + path.size() + 1, GUARD, "path_directory");

    size_t room = path.size() + extension.size() + 2;
    std::vector<unsigned char> changed(room + GUARD, GUARD_BYTE);
    path_change_extension(reinterpret_cast<char*>(changed.data()), text.get(), extension.c_str());
    std::string expected =
        (dot ? path.substr(0, size_t(dot - text.get())) : path + ".") + extension;
    if (std::string(reinterpret_cast<char*>(changed.data())) != expected) {
        fuzz_fail("path_change_extension differs");
    }
    check_guard(changed.data() + room, GUARD, "path_change_extension");
}

void check_utf16_to_utf8(const std::vector<uint16_t>& units, uint32_t capacity) {
    std::unique_ptr<uint16_t[]> text(new uint16_t[units.size() + 1]);
    if (!units.empty()) {
        std::memcpy(text.get(), units.data(), units.size() * 2);
    }
    text[units.size()] = 0;
    std::vector<unsigned char> out(capacity + GUARD, GUARD_BYTE);
    uint32_t count = utf16_to_utf8(reinterpret_cast<char*>(out.data()), capacity, text.get());
    if (capacity == 0) {
        check_guard(out.data(), GUARD, "utf16_to_utf8 with capacity 0");
        if (count != 0) {
            fuzz_fail("utf16_to_utf8 with capacity 0 returned %u", count);
        }
        return;
    }
    check_guard(out.data() + capacity, GUARD, "utf16_to_utf8");
    std::string expected;
    for (size_t i = 0;
         i < units.size() && units[i] != 0 && capacity > 3 && expected.size() < capacity - 3; ++i) {
        uint16_t c = units[i];
        if (c < 0x80) {
            expected += char(c);
        } else if (c < 0x800) {
            expected += char(0xC0 | (c >> 6));
            expected += char(0x80 | (c & 0x3F));
        } else {
            expected += char(0xE0 | (c >> 12));
            expected += char(0x80 | ((c >> 6) & 0x3F));
            expected += char(0x80 | (c & 0x3F));
        }
    }
    if (count != expected.size() || count >= capacity || out[count] != 0 ||
        std::memcmp(out.data(), expected.data(), count) != 0) {
        fuzz_fail("utf16_to_utf8 with capacity %u gave %u bytes, expected %zu", capacity, count,
                  expected.size());
    }
}

void check_utf8_to_utf16(std::string text, uint32_t capacity) {
    text = text.substr(0, text.find('\0'));
    std::unique_ptr<char[]> input(new char[text.size() + 1]);
    std::memcpy(input.get(), text.c_str(), text.size() + 1);
    std::vector<uint16_t> out(capacity + GUARD, 0xA5A5);
    uint32_t count = utf8_to_utf16(out.data(), capacity, input.get());
    for (size_t i = capacity; i < out.size(); ++i) {
        if (out[i] != 0xA5A5) {
            fuzz_fail("utf8_to_utf16 wrote past its capacity of %u units", capacity);
        }
    }
    if (capacity == 0) {
        if (count != 0 || out[0] != 0xA5A5) {
            fuzz_fail("utf8_to_utf16 with capacity 0 wrote something");
        }
        return;
    }
    std::vector<uint16_t> expected;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
    size_t i = 0, n = text.size();
    while (expected.size() < capacity - 1 && i < n) {
        unsigned char b0 = p[i];
        if (b0 < 0x80) {
            expected.push_back(b0);
            i += 1;
        } else if (b0 >= 0xC0 && b0 <= 0xDF) {
            if (i + 1 >= n) {
                break;
            }
            expected.push_back(uint16_t(((b0 & 0x1F) << 6) | (p[i + 1] & 0x3F)));
            i += 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            if (i + 2 >= n) {
                break;
            }
            expected.push_back(
                uint16_t(((b0 & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F)));
            i += 3;
        } else {
            expected.push_back(0xFFFD);
            i += 1;
        }
    }
    if (count != expected.size() || out[count] != 0 ||
        !std::equal(expected.begin(), expected.end(), out.begin())) {
        fuzz_fail("utf8_to_utf16 with capacity %u gave %u units, expected %zu", capacity, count,
                  expected.size());
    }
}

uint32_t pick_size(FuzzedDataProvider& input) {
    static const uint32_t sizes[] = {0, 1, 2, 3, 4, 5, 8, 16, 255, 256, 1023, 1024};
    uint8_t choice = input.ConsumeIntegral<uint8_t>();
    if (choice < 2 * std::size(sizes)) {
        return sizes[choice % std::size(sizes)];
    }
    return input.ConsumeIntegralInRange<uint32_t>(0, 2048);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_quiet_messages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    uint32_t line_size = pick_size(input);
    int kind = input.ConsumeIntegralInRange<int>(0, 3);
    uint8_t extra = input.ConsumeIntegral<uint8_t>();
    char separator = input.ConsumeIntegral<char>();
    uint32_t maximum = input.ConsumeIntegralInRange<uint32_t>(0, 130);
    uint32_t capacity8 = pick_size(input);
    uint32_t capacity16 = pick_size(input);
    std::string extension = input.ConsumeRandomLengthString(64);
    std::string utf8 = input.ConsumeRandomLengthString(4096);
    std::string text = input.ConsumeRemainingBytesAsString();

    check_read_line(text, line_size, kind, extra);
    check_split(text, separator, maximum);
    check_paths(text, extension);
    check_utf8_to_utf16(utf8, capacity16);
    check_utf8_to_utf16(text, capacity16);
    std::vector<uint16_t> units((text.size() + 1) / 2);
    if (!text.empty()) {
        std::memcpy(units.data(), text.data(), text.size());
    }
    check_utf16_to_utf8(units, capacity8);
    return 0;
}
