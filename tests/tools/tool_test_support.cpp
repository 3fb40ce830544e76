#include "tools/tool_test_support.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <stdexcept>

#include "epk2.h"
#include "platform/platform.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace tooltest {

namespace {

std::string read_back(FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string bytes = read_rest(file);
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

bool parse_json(const std::string& text, Json& value, std::string& error) {
    try {
        value = Json::parse(text);
        return true;
    } catch (const Json::parse_error& failure) {
        value = Json{};
        error = failure.what();
        return false;
    }
}

const Json* member(const Json& json, const std::string& name) {
    if (!json.is_object()) {
        return nullptr;
    }
    auto found = json.find(name);
    return found == json.end() ? nullptr : &*found;
}

} // namespace tooltest
