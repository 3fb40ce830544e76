#include "update/version_info.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "fs/filesystem.h"
#include "stream/stream.h"
#include "support/text.h"

namespace {

constexpr unsigned INFO_LINE_SIZE = 256;
constexpr unsigned INFO_MAX_PIECES = 64;

void copy_field(char* field, const char* value) {
    std::strncpy(field, value, VERSION_FIELD_SIZE - 1);
    field[VERSION_FIELD_SIZE - 1] = '\0';
}

void apply_line(char* line, VersionInfo* info) {
    char* pieces[INFO_MAX_PIECES];
    uint32_t count = split_text(line, '=', pieces, INFO_MAX_PIECES);
    if (count < 2) {
        return; // empty lines and lines without "=" carry no value
    }
    if (std::strcmp(pieces[0], "identifer") == 0) {
        copy_field(info->identifer, pieces[1]);
    } else if (std::strcmp(pieces[0], "version") == 0) {
        copy_field(info->version, pieces[1]);
    } else if (std::strcmp(pieces[0], "attribute") == 0) {
        copy_field(info->attribute, pieces[1]);
    }
}

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// For a number beyond what a double holds: true when its magnitude lies
// below 1 (it underflows), false when above (it overflows). That is the
// decimal position of its first significant digit plus its exponent; zeros
// after the point count as much as a negative exponent does.
bool below_one(const std::string& number) {
    size_t e = number.find_first_of("eE");
    long long exponent = 0;
    if (e != std::string::npos) {
        size_t at = e + 1;
        bool negative = number[at] == '-';
        if (number[at] == '+' || number[at] == '-') {
            ++at;
        }
        for (; at < number.size() && exponent < 1000000000000LL; ++at) {
            exponent = exponent * 10 + (number[at] - '0');
        }
        exponent = negative ? -exponent : exponent;
    }
    std::string mantissa = number.substr(0, e);
    size_t point = mantissa.find('.');
    if (point == std::string::npos) {
        point = mantissa.size();
    }
    size_t first = mantissa.find_first_of("123456789");
    if (first == std::string::npos) {
        return true;
    }
    long long position = first < point ? static_cast<long long>(point - first) - 1
                                       : -static_cast<long long>(first - point);
    return position + exponent < 0;
}

} // namespace

bool read_version_info(FileSystem* fs, VersionInfo* info) {
    Stream* stream = fs_open(fs, "info.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    if (!stream) {
        return false;
    }
    char line[INFO_LINE_SIZE];
    while (stream_state(stream) != STREAM_STATE_END) {
        read_line(stream, line, sizeof line);
        apply_line(line, info);
    }
    stream_close(stream);
    return true;
}

double parse_version(const char* text) {
    const char* p = text;
    while (is_space(*p)) {
        ++p;
    }
    // Collect the longest prefix that forms a decimal number.
    std::string number;
    if (*p == '+' || *p == '-') {
        number += *p++;
    }
    size_t digits = 0;
    while (is_digit(*p)) {
        number += *p++;
        ++digits;
    }
    if (*p == '.') {
        number += *p++;
        while (is_digit(*p)) {
            number += *p++;
            ++digits;
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') {
            ++q;
        }
        if (is_digit(*q)) {
            number.append(p, q - p);
            while (is_digit(*q)) {
                number += *q++;
            }
        }
    }
    const char* begin = number.c_str();
    if (*begin == '+') {
        ++begin; // from_chars takes no plus sign
    }
    double value = 0.0;
    auto result = std::from_chars(begin, number.c_str() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Like atof: huge magnitudes become infinity, tiny ones a zero of
        // the number's sign.
        bool negative = *begin == '-';
        if (below_one(number)) {
            value = negative ? -0.0 : 0.0;
        } else {
            value = negative ? -HUGE_VAL : HUGE_VAL;
        }
    }
    return value;
}
