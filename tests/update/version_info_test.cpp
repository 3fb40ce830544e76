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
    const struct {
        const char* why;
        std::string text;
        std::string identifer, version, attribute;
    } rows[] = {
        {"plain", "identifer=Tessavane\r\nversion=1.05\r\nattribute=full\r\n", "Tessavane", "1.05",
         "full"},
        // Keys are exact, blanks are kept, other keys and lines without "="
        // set nothing; a second "=" ends the value.
        {"the last line with a key wins",
         "version=1.0\r\nversion=1.2=beta\r\nVersion=9\r\nversion = 7\r\n"
         "attribute= full\r\nnothing here\r\n\r\ncolour=red\r\n",
         "", "1.2", " full"},
        // The identifer reaches from the first "=" to the second, line feed
        // and following key included.
        {"only CR LF ends a line", "identifer=Tessavane\nversion=1.5\nattribute=full\n",
         "Tessavane\nversion", "", ""},
        {"a line longer than 255 bytes goes on as a line of its own",
         "identifer=" + std::string(300, 'a') + "\r\nversion=2.0\r\n", std::string(255 - 10, 'a'),
         "2.0", ""},
    };
    for (const auto& row : rows) {
        VersionInfo info{};
        ASSERT_TRUE(read(row.text, &info)) << row.why;
        EXPECT_EQ(info.identifer, row.identifer) << row.why;
        EXPECT_EQ(info.version, row.version) << row.why;
        EXPECT_EQ(info.attribute, row.attribute) << row.why;
    }
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
