// Names crossing between the library's code page 932 and the operating
// system's own form (UTF-16 on Windows, UTF-8 on POSIX).
#include <gtest/gtest.h>

#include <string>

#include "platform/cp932_char.h"
#include "platform/platform.h"
#include "platform_test_support.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Makes a file under its operating-system name, given in UTF-8.
bool make_native_file(const std::string& folder, const char* utf8_name) {
    std::string path = join_path(folder, utf8_name);
#ifdef _WIN32
    wchar_t wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide, MAX_PATH)) {
        return false;
    }
    HANDLE file = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, "edge", 4, &written, nullptr);
    CloseHandle(file);
    return ok && written == 4;
#else
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    bool ok = fd >= 0 && write(fd, "edge", 4) == 4;
    close(fd);
    return ok;
#endif
}

// The entries of folder, without "." and "..": name and whether it had a form.
std::vector<std::pair<std::string, bool>> listed_names(const std::string& folder) {
    std::vector<std::pair<std::string, bool>> names;
    PlatformFindData data;
    PlatformFind find = platform_find_first(join_path(folder, "*").c_str(), &data);
    while (find != PLATFORM_INVALID_FIND) {
        if (data.name != std::string(".") && data.name != std::string("..")) {
            names.emplace_back(data.name, data.name_unconvertible);
        }
        if (!platform_find_next(find, &data)) {
            platform_find_close(find);
            break;
        }
    }
    return names;
}

struct EdgeCase {
    const char* what;
    const char* native; // the operating system's name (UTF-8); null: none made
    const char* cp932;  // the library's name; null: it has none
};

const EdgeCase EDGE_CASES[] = {
    {"representable", "テスト.txt", "\x83\x65\x83\x58\x83\x67.txt"},
    // The trail byte of "表" is 0x5C, a backslash when read byte by byte.
    {"trail byte 0x5C", "表.txt", "\x95\x5C.txt"},
    // Hangul has no code page 932 form.
    {"unrepresentable", "한.txt", nullptr},
    // 0x85 0x40 is no code page 932 character: no file may come of it.
    {"no such character", nullptr, "\x85\x40.txt"},
};

} // namespace

TEST(PlatformCodepageEdge, NamesCrossUnchangedOrNotAtAll) {
    for (const EdgeCase& edge : EDGE_CASES) {
        SCOPED_TRACE(edge.what);
        TempDir dir;
        if (edge.native) {
            ASSERT_TRUE(make_native_file(dir.path(), edge.native));
        }
        if (!edge.native) {
            std::string path = join_path(dir.path(), edge.cp932);
            EXPECT_EQ(platform_file_create_new(path.c_str()), PLATFORM_INVALID_FILE);
            EXPECT_FALSE(platform_file_exists(path.c_str()));
            EXPECT_TRUE(listed_names(dir.path()).empty());
            continue;
        }
        auto names = listed_names(dir.path());
        ASSERT_EQ(names.size(), 1u);
        if (!edge.cp932) {
            // Listed as having no form; its shown name opens nothing.
            EXPECT_TRUE(names[0].second);
            std::string shown = join_path(dir.path(), names[0].first);
            EXPECT_EQ(
                platform_file_open(shown.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING),
                PLATFORM_INVALID_FILE);
            continue;
        }
        EXPECT_FALSE(names[0].second);
        EXPECT_EQ(names[0].first, edge.cp932);
        char combined[260];
        ASSERT_NE(platform_path_combine(combined, dir.path().c_str(), edge.cp932), nullptr);
        EXPECT_STREQ(platform_path_find_file_name(combined), edge.cp932);
        PlatformFile file =
            platform_file_open(combined, PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
        ASSERT_NE(file, PLATFORM_INVALID_FILE);
        char bytes[8] = {};
        EXPECT_EQ(platform_file_read(file, bytes, sizeof bytes), 4u);
        EXPECT_STREQ(bytes, "edge");
        platform_file_close(file);
        char full[512];
        uint32_t length = platform_full_path(full, sizeof full, combined);
        ASSERT_GT(length, 0u);
        ASSERT_LT(length, sizeof full);
        EXPECT_STREQ(platform_path_find_file_name(full), edge.cp932);
    }
}

// Where a character ends, at the edges of the lead and trail ranges and
// where a lead byte meets the end of its text.
TEST(Cp932Char, LengthAtTheEdgesOfBothRanges) {
    const struct {
        const char* text;
        int length;
    } cases[] = {
        {"\x81\x40", 2}, {"\x9F\x7E", 2}, {"\xE0\x80", 2}, {"\xFC\xFC", 2},
        {"\x95\x5C", 2}, // 表: a trail byte that is a backslash on its own
        {"\x81", 1},     // a lead byte before the NUL
        {"\x81\x3F", 1}, {"\x81\x7F", 1}, {"\x81\xFD", 1}, {"\x81/", 1},
        {"\x81\n", 1},   {"\x80\x40", 1}, {"\xA0\x40", 1}, {"\xDF\x40", 1},
        {"\xFD\x40", 1}, {"a\x40", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp932_char_length(c.text), c.length) << testing::PrintToString(c.text);
    }
}
