#include "driver_report.h"

#include <windows.h>

std::string to_utf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring from_utf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string escape_line(const std::string& text) {
    std::string out;
    for (char c : text) {
        const char* escaped = c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (escaped) {
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

Report::~Report() {
    if (file_) {
        fclose(file_);
    }
}

bool Report::open(const wchar_t* path) {
    file_ = _wfopen(path, L"wb");
    return file_ != nullptr;
}

void Report::add(const std::string& key, const std::string& value) {
    if (!file_) {
        return;
    }
    fprintf(file_, "%s=%s\n", key.c_str(), escape_line(value).c_str());
    fflush(file_);
}
