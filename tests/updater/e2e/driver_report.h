// The driver's findings: "key=value" lines in UTF-8, written as they come so
// that a run cut short still leaves what it saw.
#pragma once

#include <cstdio>
#include <string>

std::string to_utf8(const std::wstring& text);
std::wstring from_utf8(const std::string& text);

class Report {
  public:
    ~Report();
    bool open(const wchar_t* path);
    void add(const std::string& key, const std::string& value);
    void add(const std::string& key, const std::wstring& value) { add(key, to_utf8(value)); }
    void add(const std::string& key, long long value) { add(key, std::to_string(value)); }

  private:
    FILE* file_ = nullptr;
};

// Tabs and line ends written as \t, \n and \r so that each finding stays on
// one line; backslashes stay as they are (paths are compared as written).
std::string escape_line(const std::string& text);
