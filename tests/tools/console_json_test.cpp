// JSON strings of names that hold a lead byte with no trail byte after it.
#include <gtest/gtest.h>

#include "cli/cli.h"

namespace {

TEST(ConsoleJson, StrayLeadByteLeavesTheNextCharacterItsOwn) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows converts through its own code page tables";
#else
    const struct {
        const char* cp932;
        const char* json;
    } cases[] = {
        {"\x81\n", "\\\\x81\\n"},
        {"a\x81.txt", "a\\\\x81.txt"},
        {"\x81\"", "\\\\x81\\\""},
        {"\x95\x5C", "表"}, // a whole character still converts
    };
    for (const auto& c : cases) {
        EXPECT_EQ(to_json_string(c.cp932), c.json) << c.cp932;
    }
#endif
}

} // namespace
