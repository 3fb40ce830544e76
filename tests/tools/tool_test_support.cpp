#include "tools/tool_test_support.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>

#include "cli.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace tooltest {

namespace {

std::string read_back(FILE* file) {
    std::string bytes;
    std::fflush(file);
    std::rewind(file);
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.append(chunk, n);
    }
    std::fclose(file);
    return bytes;
}

#ifndef _WIN32
std::string iconv_convert(const char* to, const char* from, const std::string& text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("no converter");
    }
    std::string out(text.size() * 4 + 16, '\0');
    char* source = const_cast<char*>(text.data());
    size_t source_left = text.size();
    char* target = out.data();
    size_t target_left = out.size();
    size_t result = iconv(cd, &source, &source_left, &target, &target_left);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1)) {
        throw std::runtime_error("text without a converted form");
    }
    out.resize(out.size() - target_left);
    return out;
}
#endif

void snapshot_into(const std::string& folder, const std::string& prefix, Snapshot& out) {
    PlatformFindData data;
    PlatformFind find = platform_find_first(join(folder, "*").c_str(), &data);
    if (find == PLATFORM_INVALID_FIND) {
        return;
    }
    do {
        std::string name = data.name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = join(folder, name);
        if (data.attributes & PLATFORM_ATTRIBUTE_DIRECTORY) {
            out[prefix + name + "/"] = "<folder>";
            snapshot_into(path, prefix + name + "/", out);
        } else {
            out[prefix + name] = read_file(path);
        }
    } while (platform_find_next(find, &data));
    platform_find_close(find);
}

} // namespace

ToolRun run_tool(const std::vector<std::string>& words, bool err_is_terminal) {
    std::vector<std::string> copies = words;
    copies.insert(copies.begin(), "epk2");
    std::vector<char*> argv;
    for (std::string& word : copies) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    if (!out || !err) {
        throw std::runtime_error("no temporary file for the console");
    }
    Console console{out, err, err_is_terminal};
    ToolRun run;
    run.status = epk2_main(int(copies.size()), argv.data(), console);
    run.out = read_back(out);
    run.err = read_back(err);
    return run;
}

std::string arg(const std::string& cp932) {
#ifdef _WIN32
    return cp932;
#else
    return iconv_convert("UTF-8", "CP932", cp932);
#endif
}

std::string utf8(const std::string& cp932) {
#ifdef _WIN32
    if (cp932.empty()) {
        return cp932;
    }
    int units =
        MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932.data(), int(cp932.size()), nullptr, 0);
    if (units <= 0) {
        throw std::runtime_error("text without a converted form");
    }
    std::wstring wide(units, L'\0');
    MultiByteToWideChar(932, 0, cp932.data(), int(cp932.size()), wide.data(), units);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), bytes, nullptr, nullptr);
    return out;
#else
    return iconv_convert("UTF-8", "CP932", cp932);
#endif
}

std::string join(const std::string& folder, const std::string& name) {
    std::string path = folder + platform_separator() + name;
    for (char& c : path) {
        if (c == '/') {
            c = platform_separator();
        }
    }
    return path;
}

void write_file(const std::string& path, const std::string& bytes) {
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_WRITE, PLATFORM_CREATE_ALWAYS);
    if (file == PLATFORM_INVALID_FILE) {
        throw std::runtime_error("cannot write " + path);
    }
    uint32_t written =
        bytes.empty() ? 0 : platform_file_write(file, bytes.data(), uint32_t(bytes.size()));
    platform_file_close(file);
    if (written != bytes.size()) {
        throw std::runtime_error("short write to " + path);
    }
}

std::string read_file(const std::string& path) {
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    if (file == PLATFORM_INVALID_FILE) {
        return "<missing>";
    }
    uint32_t size = 0;
    platform_file_size(file, &size, nullptr);
    std::string bytes(size, '\0');
    uint32_t got = 0;
    while (got < size) {
        uint32_t n = platform_file_read(file, bytes.data() + got, size - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    platform_file_close(file);
    bytes.resize(got);
    return bytes;
}

bool path_exists(const std::string& path) {
    return platform_attributes(path.c_str()) != PLATFORM_ATTRIBUTES_INVALID;
}

bool is_folder(const std::string& path) {
    uint32_t attributes = platform_attributes(path.c_str());
    return attributes != PLATFORM_ATTRIBUTES_INVALID &&
           (attributes & PLATFORM_ATTRIBUTE_DIRECTORY) != 0;
}

void make_folder(const std::string& path) {
    if (!is_folder(path) && !platform_make_dir(path.c_str())) {
        throw std::runtime_error("cannot make the folder " + path);
    }
}

void write_tree_file(const std::string& root, const std::string& relative,
                     const std::string& bytes) {
    size_t slash = 0;
    while ((slash = relative.find('/', slash)) != std::string::npos) {
        make_folder(join(root, relative.substr(0, slash)));
        ++slash;
    }
    write_file(join(root, relative), bytes);
}

Snapshot snapshot(const std::string& folder) {
    Snapshot out;
    snapshot_into(folder, "", out);
    return out;
}

std::string save_archive(const std::string& path, const TestArchive& archive) {
    std::string bytes = build_test_archive(archive);
    write_file(path, bytes);
    return bytes;
}

uint32_t dir_field(uint32_t dir_index, uint32_t field_offset) {
    return test_dir_field(dir_index, field_offset);
}

uint32_t file_field(uint32_t dir_count, uint32_t file_index, uint32_t field_offset) {
    return test_file_field(dir_count, file_index, field_offset);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> words_of(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        size_t start = i;
        while (i < line.size() && line[i] != ' ') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// --- JSON ------------------------------------------------------------------

const Json* Json::get(const std::string& name) const {
    if (kind != OBJECT) {
        return nullptr;
    }
    for (const auto& member : members) {
        if (member.first == name) {
            return &member.second;
        }
    }
    return nullptr;
}

namespace {

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    bool document(Json& value, std::string& error) {
        blanks();
        if (!parse_value(value, 0)) {
            error = error_ + " at byte " + std::to_string(at_);
            return false;
        }
        blanks();
        if (at_ != text_.size()) {
            error = "text after the value at byte " + std::to_string(at_);
            return false;
        }
        return true;
    }

  private:
    bool fail(const char* why) {
        error_ = why;
        return false;
    }

    void blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool literal(const char* word) {
        size_t n = std::strlen(word);
        if (text_.compare(at_, n, word) != 0) {
            return fail("unknown literal");
        }
        at_ += n;
        return true;
    }

    bool parse_value(Json& value, int depth) {
        if (depth > 64) {
            return fail("nested too deeply");
        }
        if (at_ >= text_.size()) {
            return fail("value expected");
        }
        char c = text_[at_];
        if (c == '{') {
            return parse_object(value, depth);
        }
        if (c == '[') {
            return parse_array(value, depth);
        }
        if (c == '"') {
            value.kind = Json::STRING;
            return parse_string(value.text);
        }
        if (c == 't' || c == 'f') {
            value.kind = Json::BOOLEAN;
            value.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            value.kind = Json::NUL;
            return literal("null");
        }
        return parse_number(value);
    }

    bool parse_number(Json& value) {
        size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_]))) {
            return fail("number expected");
        }
        if (text_[at_] == '0') {
            ++at_;
        } else {
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
                ++at_;
            }
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_]))) {
                return fail("digits expected after the point");
            }
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
                ++at_;
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_]))) {
                return fail("digits expected in the exponent");
            }
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
                ++at_;
            }
        }
        value.kind = Json::NUMBER;
        value.number = std::stod(text_.substr(start, at_ - start));
        return true;
    }

    static void append_utf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    bool hex4(uint32_t& code) {
        if (at_ + 4 > text_.size()) {
            return fail("short \\u escape");
        }
        code = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= uint32_t(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= uint32_t(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= uint32_t(c - 'A' + 10);
            } else {
                return fail("bad \\u escape");
            }
        }
        return true;
    }

    // One UTF-8 sequence, checked for shortest form and range.
    bool utf8_sequence(std::string& out) {
        unsigned char c = static_cast<unsigned char>(text_[at_]);
        int length = c < 0x80             ? 1
                     : (c & 0xE0) == 0xC0 ? 2
                     : (c & 0xF0) == 0xE0 ? 3
                     : (c & 0xF8) == 0xF0 ? 4
                                          : 0;
        if (length == 0 || at_ + length > text_.size()) {
            return fail("invalid UTF-8");
        }
        uint32_t code = length == 1 ? c : c & (0x7F >> length);
        for (int i = 1; i < length; ++i) {
            unsigned char next = static_cast<unsigned char>(text_[at_ + i]);
            if ((next & 0xC0) != 0x80) {
                return fail("invalid UTF-8");
            }
            code = (code << 6) | (next & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < minimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return fail("invalid UTF-8");
        }
        out.append(text_, at_, length);
        at_ += length;
        return true;
    }

    bool parse_string(std::string& out) {
        ++at_; // the opening quote
        out.clear();
        while (true) {
            if (at_ >= text_.size()) {
                return fail("unterminated string");
            }
            unsigned char c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20) {
                return fail("control character in a string");
            }
            if (c != '\\') {
                if (!utf8_sequence(out)) {
                    return false;
                }
                continue;
            }
            if (++at_ >= text_.size()) {
                return fail("unterminated escape");
            }
            char e = text_[at_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t code;
                if (!hex4(code)) {
                    return false;
                }
                if (code >= 0xD800 && code <= 0xDBFF) {
                    uint32_t low;
                    if (text_.compare(at_, 2, "\\u") != 0) {
                        return fail("lone surrogate");
                    }
                    at_ += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                        return fail("lone surrogate");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    return fail("lone surrogate");
                }
                append_utf8(out, code);
                break;
            }
            default:
                return fail("unknown escape");
            }
        }
    }

    bool parse_array(Json& value, int depth) {
        value.kind = Json::ARRAY;
        ++at_;
        blanks();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return true;
        }
        while (true) {
            Json item;
            blanks();
            if (!parse_value(item, depth + 1)) {
                return false;
            }
            value.items.push_back(std::move(item));
            blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return true;
            }
            return fail("',' or ']' expected");
        }
    }

    bool parse_object(Json& value, int depth) {
        value.kind = Json::OBJECT;
        ++at_;
        blanks();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return true;
        }
        while (true) {
            blanks();
            if (at_ >= text_.size() || text_[at_] != '"') {
                return fail("member name expected");
            }
            std::string name;
            if (!parse_string(name)) {
                return false;
            }
            blanks();
            if (at_ >= text_.size() || text_[at_] != ':') {
                return fail("':' expected");
            }
            ++at_;
            blanks();
            Json member;
            if (!parse_value(member, depth + 1)) {
                return false;
            }
            value.members.emplace_back(std::move(name), std::move(member));
            blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return true;
            }
            return fail("',' or '}' expected");
        }
    }

    const std::string& text_;
    size_t at_ = 0;
    std::string error_;
};

} // namespace

bool parse_json(const std::string& text, Json& value, std::string& error) {
    value = Json{};
    JsonReader reader(text);
    return reader.document(value, error);
}

} // namespace tooltest
