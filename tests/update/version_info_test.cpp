// Reading "info.txt" and the numeric value of a version text.
#include <clocale>
#include <cstring>
#include <gtest/gtest.h>

#include "archive/archive_fs.h"
#include "update/updater_test_support.h"
#include "update/version_info.h"

namespace {

class VersionInfoTest : public ::testing::Test, public UpdateFixture {
  protected:
    // Reads info.txt of an archive holding text (or no info.txt at all).
    bool read(const std::string& text, VersionInfo* info, bool with_info = true) {
        std::string path = join(root(), "v.dat");
        Tree tree = {{"other.txt", "x"}};
        if (with_info) {
            tree.push_back({"info.txt", text});
        }
        pack_tree(tree, path);
        FileSystem* fs = archive_open(nullptr, path.c_str(), nullptr);
        EXPECT_NE(fs, nullptr);
        bool read = fs && read_version_info(fs, info);
        if (fs) {
            fs_close(fs);
        }
        return read;
    }
};

TEST_F(VersionInfoTest, KeysValuesAndLines) {
    VersionInfo info{};
    ASSERT_TRUE(read("identifer=Tessavane\r\nversion=1.05\r\nattribute=full\r\n", &info));
    EXPECT_STREQ(info.identifer, "Tessavane");
    EXPECT_STREQ(info.version, "1.05");
    EXPECT_STREQ(info.attribute, "full");

    // The last line with a key wins; keys are exact, blanks are kept, other
    // keys and lines without "=" set nothing; a second "=" ends the value.
    info = VersionInfo{};
    ASSERT_TRUE(read("version=1.0\r\nversion=1.2=beta\r\nVersion=9\r\nversion = 7\r\n"
                     "attribute= full\r\nnothing here\r\n\r\ncolour=red\r\n",
                     &info));
    EXPECT_STREQ(info.version, "1.2");
    EXPECT_STREQ(info.attribute, " full");
    EXPECT_STREQ(info.identifer, "");
}

TEST_F(VersionInfoTest, OnlyCrLfEndsALine) {
    // LF-only: one line, the identifer reaches from the first "=" to the
    // second, line feed and following key included.
    VersionInfo info{};
    ASSERT_TRUE(read("identifer=Tessavane\nversion=1.5\nattribute=full\n", &info));
    EXPECT_STREQ(info.identifer, "Tessavane\nversion");
    EXPECT_STREQ(info.version, "");
    EXPECT_STREQ(info.attribute, "");

    // A line longer than 255 bytes goes on as a line of its own.
    info = VersionInfo{};
    std::string long_value(300, 'a');
    ASSERT_TRUE(read("identifer=" + long_value + "\r\nversion=2.0\r\n", &info));
    EXPECT_EQ(std::string(info.identifer), std::string(255 - 10, 'a'));
    EXPECT_STREQ(info.version, "2.0");
}

TEST_F(VersionInfoTest, MissingInfoTxtSetsNothing) {
    VersionInfo info{};
    std::strcpy(info.version, "kept");
    EXPECT_FALSE(read("", &info, false));
    EXPECT_STREQ(info.version, "kept");
}

TEST(ParseVersion, ReadsLikeAtofWhateverTheLocale) {
    EXPECT_DOUBLE_EQ(parse_version("1.9"), 1.9);
    EXPECT_LT(parse_version("1.10"), parse_version("1.9"));
    EXPECT_DOUBLE_EQ(parse_version("1.2.3"), 1.2);
    EXPECT_DOUBLE_EQ(parse_version("  +2.5beta"), 2.5);
    EXPECT_DOUBLE_EQ(parse_version("-1"), -1.0);
    EXPECT_DOUBLE_EQ(parse_version(".5"), 0.5);
    EXPECT_DOUBLE_EQ(parse_version("3."), 3.0);
    EXPECT_DOUBLE_EQ(parse_version("1e2x"), 100.0);
    EXPECT_DOUBLE_EQ(parse_version("1e"), 1.0); // no digits after the e
    EXPECT_DOUBLE_EQ(parse_version("1,5"), 1.0);
    EXPECT_DOUBLE_EQ(parse_version("abc"), 0.0);
    EXPECT_DOUBLE_EQ(parse_version(""), 0.0);
    EXPECT_DOUBLE_EQ(parse_version("."), 0.0);
    EXPECT_GT(parse_version("1e999"), 1e308);
    EXPECT_DOUBLE_EQ(parse_version("1e-999"), 0.0);

    // A locale with a decimal comma changes nothing.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") ||
        std::setlocale(LC_NUMERIC, "German")) {
        EXPECT_DOUBLE_EQ(parse_version("1.5"), 1.5);
        EXPECT_DOUBLE_EQ(parse_version("1,5"), 1.0);
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
}

} // namespace
