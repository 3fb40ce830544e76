// Helpers for the epk2 tool's tests: running the tool in-process with its
// output captured, the command-line form of code page 932 names, folder
// snapshots, and reading the JSON of "list --json". Files and folders by code
// page 932 paths come from the shared support library.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/platform_files.h"
#include "support/test_archive_writer.h"

namespace tooltest {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs "epk2 WORDS..." with temporary files as standard output and error.
ToolRun run_tool(const std::vector<std::string>& words, bool err_is_terminal = false);

// The form in which the command line and the terminal carry a code page 932
// text: UTF-8 on Linux, the bytes themselves on Windows.
std::string arg(const std::string& cp932);

// UTF-8 form of a code page 932 text, on both builds (JSON output is UTF-8).
std::string utf8(const std::string& cp932);

// Everything below a folder: relative path ("a/b.txt", code page 932) to the
// file's bytes; folders appear as "a/" with the value "<folder>".
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string& folder);

// Writes an archive built by the test archive writer; returns its bytes.
std::string save_archive(const std::string& path, const TestArchive& archive);

// Table positions (from offset 32) of the records of an archive whose
// directory count is dir_count.
uint32_t dir_field(uint32_t dir_index, uint32_t field_offset);
uint32_t file_field(uint32_t dir_count, uint32_t file_index, uint32_t field_offset);

// Lines of a text, without their line ends.
std::vector<std::string> lines_of(const std::string& text);
// Whitespace-separated words of a line.
std::vector<std::string> words_of(const std::string& line);
bool contains(const std::string& text, const std::string& part);

// The tool's JSON output, read with nlohmann/json.
using Json = nlohmann::json;

// Strict JSON (RFC 8259): one value with blanks around it, strings valid
// UTF-8. False with error set to the parser's account otherwise.
bool parse_json(const std::string& text, Json& value, std::string& error);

// The member of that name; null when absent or when json is no object.
const Json* member(const Json& json, const std::string& name);

} // namespace tooltest
