#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text.h"

// Every row is cut in place in a copy of its text. Entries of pieces past the
// count stay untouched, and a text that yields no piece stays as it was.
TEST(SplitText, CutsInPlaceAtTheSeparator) {
    const struct {
        const char* text;
        char separator;
        uint32_t maximum;
        std::vector<std::string> pieces;
    } rows[] = {
        {"identifer=abc", '=', 64, {"identifer", "abc"}},
        {"version = 1", '=', 64, {"version ", " 1"}},
        // The maximum drops the rest after the last stored piece.
        {"a=b=c", '=', 2, {"a", "b"}},
        {"a=b=c", '=', 3, {"a", "b", "c"}},
        {"a=b", '=', 1, {"a"}},
        // Empty pieces remain.
        {"=v", '=', 64, {"", "v"}},
        {"key=", '=', 64, {"key", ""}},
        {"/data//a.txt", '/', 8, {"", "data", "", "a.txt"}},
        {"noseparator", '/', 8, {"noseparator"}},
        // An empty text or a zero maximum touches nothing.
        {"", '=', 64, {}},
        {"a=b", '=', 0, {}},
    };
    for (const auto& row : rows) {
        std::string original(row.text);
        std::vector<char> line(original.begin(), original.end());
        line.push_back('\0');
        char* pieces[64] = {};
        ASSERT_EQ(split_text(line.data(), row.separator, pieces, row.maximum), row.pieces.size())
            << row.text;
        for (size_t i = 0; i < row.pieces.size(); ++i) {
            EXPECT_STREQ(pieces[i], row.pieces[i].c_str()) << row.text << " piece " << i;
            EXPECT_TRUE(pieces[i] >= line.data() && pieces[i] < line.data() + line.size())
                << row.text << ": piece " << i << " is not within the text";
        }
        if (!row.pieces.empty()) {
            EXPECT_EQ(pieces[0], line.data()) << row.text;
        } else {
            EXPECT_EQ(std::string(line.data()), original) << row.text;
        }
        EXPECT_EQ(pieces[row.pieces.size()], nullptr) << row.text;
    }
}
