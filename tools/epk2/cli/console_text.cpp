#include "cli/cli.h"

#include <cstdio>

#include "support/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace {

std::string escape_byte(unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
    return buffer;
}

#ifndef _WIN32
// Length of the code page 932 character that starts at text[i]: 2 for a
// complete double-byte character, else 1.
size_t cp932_char_length(const std::string& text, size_t i) {
    return static_cast<size_t>(text_char_length(text.c_str() + i));
}

// Converts one character with iconv; false when it has no form.
bool convert_char(iconv_t cd, const char* in, size_t in_length, std::string& out) {
    char buffer[16];
    char* source = const_cast<char*>(in);
    char* target = buffer;
    size_t left = sizeof buffer;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &source, &in_length, &target, &left) == static_cast<size_t>(-1) || in_length) {
        return false;
    }
    out.append(buffer, target - buffer);
    return true;
}

struct Converter {
    iconv_t cd;
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd);
        }
    }
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

// The UTF-8 form of a code page 932 text, control characters included.
std::string to_terminal_encoding(const std::string& cp932) {
    static Converter converter("UTF-8", "CP932");
    std::string out;
    for (size_t i = 0; i < cp932.size();) {
        unsigned char c = static_cast<unsigned char>(cp932[i]);
        size_t n = cp932_char_length(cp932, i);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (!converter.ok() || !convert_char(converter.cd, &cp932[i], n, out)) {
            for (size_t k = 0; k < n; ++k) {
                out += escape_byte(static_cast<unsigned char>(cp932[i + k]));
            }
        }
        i += n;
    }
    return out;
}
#endif

// A terminal acts on these instead of showing them: they could move the
// cursor, retitle the window or start a line that looks like the tool's own.
bool is_control(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

std::string escape_control(unsigned char c) {
    switch (c) {
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        return escape_byte(c);
    }
}

std::string escape_bytes(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        out += escape_byte(c);
    }
    return out;
}

// One character from 0x80 up as the terminal is to show it. What the
// terminal would not show as a character of its own comes out as \xNN
// escapes: a lead byte without its trail byte (it would take the next byte
// along) and anything that becomes a C1 control (U+0080 to U+009F).
std::string shown_character(const std::string& character) {
#ifdef _WIN32
    unsigned char c = static_cast<unsigned char>(character[0]);
    bool alone = character.size() == 1 && (text_is_lead_byte(c) || c == 0x80);
    return alone ? escape_bytes(character) : character;
#else
    // Bytes without a form are escaped by the conversion already.
    std::string shown = to_terminal_encoding(character);
    bool c1 = shown.size() == 2 && static_cast<unsigned char>(shown[0]) == 0xC2 &&
              static_cast<unsigned char>(shown[1]) < 0xA0;
    return c1 ? escape_bytes(character) : shown;
#endif
}

} // namespace

std::string to_console(const std::string& cp932) {
    std::string out;
    for (size_t i = 0; i < cp932.size();) {
        unsigned char c = static_cast<unsigned char>(cp932[i]);
        // A lead byte pairs only with a real trail byte: a control byte
        // after it stays a character of its own.
        size_t n = text_char_length(cp932.c_str() + i);
        if (is_control(c)) {
            out += escape_control(c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += shown_character(cp932.substr(i, n));
        }
        i += n;
    }
    return out;
}

#ifndef _WIN32
namespace {

// Length of the valid UTF-8 character at text[i] (1 to 4), or 0 when the
// bytes there are none (a stray continuation byte, an overlong form, a
// surrogate, a character cut short).
size_t utf8_char_length(const std::string& text, size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80             ? 1
               : (c & 0xE0) == 0xC0 ? 2
               : (c & 0xF0) == 0xE0 ? 3
               : (c & 0xF8) == 0xF0 ? 4
                                    : 0;
    if (n == 0 || i + n > text.size()) {
        return 0;
    }
    uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return n;
}

} // namespace
#endif

std::string to_console_from_terminal(const std::string& text) {
#ifdef _WIN32
    return to_console(text); // the terminal speaks code page 932 here
#else
    std::string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = utf8_char_length(text, i);
        bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (n == 0) {
            out += escape_byte(c);
            i += 1;
            continue;
        }
        if (is_control(c)) {
            out += escape_control(c);
        } else if (c1) {
            out += escape_bytes(text.substr(i, n));
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out;
#endif
}

bool from_console(const std::string& text, std::string& cp932) {
#ifdef _WIN32
    cp932 = text;
    return true;
#else
    static Converter converter("CP932", "UTF-8");
    if (!converter.ok()) {
        return false;
    }
    cp932.clear();
    char buffer[4096];
    char* source = const_cast<char*>(text.data());
    size_t in_left = text.size();
    iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
    while (in_left > 0) {
        char* target = buffer;
        size_t out_left = sizeof buffer;
        size_t result = iconv(converter.cd, &source, &in_left, &target, &out_left);
        cp932.append(buffer, target - buffer);
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            return false;
        }
    }
    return true;
#endif
}

std::string to_json_string(const std::string& cp932) {
#ifdef _WIN32
    // JSON is UTF-8 whatever the console's code page: convert through UTF-16.
    std::string utf8;
    if (!cp932.empty()) {
        int units = MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), nullptr, 0);
        std::wstring wide(units, L'\0');
        MultiByteToWideChar(932, 0, cp932.data(), (int)cp932.size(), wide.data(), units);
        int bytes =
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
        utf8.resize(bytes);
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
    }
#else
    std::string utf8 = to_terminal_encoding(cp932);
#endif
    std::string out;
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04X", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string to_console_path(const std::string& cp932_path) {
    if (cp932_path == "/") {
        return "/\"\""; // listings never show the root: a top-level empty name
    }
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t slash = cp932_path.find('/', start);
        std::string name = cp932_path.substr(start, slash - start);
        // The leading "/" of an absolute path starts with no name before it.
        out += name.empty() && !(start == 0 && slash == 0) ? "\"\"" : to_console(name);
        if (slash == std::string::npos) {
            return out;
        }
        out += '/';
        start = slash + 1;
    }
}
