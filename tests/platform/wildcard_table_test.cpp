#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/wildcard.h"
#include "platform/wildcard_index.h"
#include "support/reference_wildcard.h"

namespace {

struct MatchCase {
    const char* path;
    const char* pattern;
    bool expected;
};

// Answers of the shell's PathMatchSpecA; the Windows build checks the table
// against it, and both builds against our own matcher and the reference one
// that the random cases and the fuzz target trust.
const MatchCase match_cases[] = {
    // "*" runs over any characters, "/" and "." included.
    {"readme.txt", "*.txt", true},
    {"/data/sub/readme.txt", "*.txt", true},
    {"/data/readme.txt.bak", "*.txt", false},
    {"/_extract/movie.ogg", "/_extract/*", true},
    {"/_extract/movie.ogg", "_extract/*", false},
    {"/a/b/c", "/*/c", true},
    {"anything", "*", true},
    {"", "*", true},
    {"abcbc", "a*bc", true},
    {"abcbd", "a*bc", false},
    {"a", "a**", true},
    {"axbxcxd", "a*b*c*d", true},
    {"axbxcx", "a*b*c*d", false},
    // "?" is exactly one character.
    {"abc", "a?c", true},
    {"ac", "a?c", false},
    {"abbc", "a?c", false},
    {"a", "a?", false},
    // ASCII letters ignore case, in path and pattern alike.
    {"README.TXT", "*.txt", true},
    {"Data.Bin", "dATA.bIN", true},
    {"abc", "ab", false},
    {"ab", "abc", false},
    // "*.*" alone matches every path, even without a ".".
    {"noextension", "*.*", true},
    {"a.b", "*.*", true},
    {"", "*.*", true},
    // ";" separates patterns; leading blanks are dropped, trailing ones count.
    {"a.txt", "*.bin;*.txt", true},
    {"a.txt", "*.bin;   *.txt", true},
    {"a.txt", "  a.txt", true},
    {"a.txt", "*.txt ", false},
    {"a.txt", "*.bin; *.dat", false},
    {"b.dat", "a*;b*", true},
    // An empty pattern matches nothing.
    {"a.txt", "", false},
    {"a.txt", ";", false},
    {"a", "", false},
    // Double-byte characters count as one; their trail bytes are not letters,
    // separators or wildcards ("ソ" 83 5C, "ア" 83 41, "ヂ" 83 61).
    {"\x83\x5C.txt", "?.txt", true},
    {"\x83\x5C.txt", "??.txt", false},
    {"\x83\x5C\x95\x5C.dat", "*\x95\x5C.dat", true},
    {"x\x83\x5Cy", "x?y", true},
    {"\x83\x41", "\x83\x61", false},
    {"\x83\x41", "*A", false},
    {"\x83\x41", "*a", false},
    {"\x83\x41", "*\x83\x41", true},
    {"/\x83\x41/a.txt", "/\x83\x41/*", true},
    {"A\x83\x41", "a?", true},
    // A lead byte before a byte that cannot be a trail byte stands alone, so
    // that byte keeps its meaning ("/", ":", "*").
    {"d\x81/a", "d?/a", true},
    {"d\x81/a", "d?a", false},
    {"\x81:", "??", true},
    {"\x81*", "\x81*", true},
    // The shapes the rule index sorts patterns into: whole paths, beginnings
    // ("X*"), endings ("*X") and the rest, each ending on a character
    // boundary of the path.
    {"/Data/A.txt", "/data/a.TXT", true},
    {"/data/a.txt/", "/data/a.txt", false},
    {"\x83\x41", "\x83*", false},
    {"\x83/x", "\x83*", true},
    {"A\x83\x41", "*A", false},
    {"\x83\x41", "*\x41", false},
    {"b\x83\x5C", "*\x83\x5C", true},
    {"/bgm/x", "/BGM/**", true},
    {"/bg", "/bgm*", false},
    {"/bgm/a.ogg", "/bgm/*.ogg", true},
    {"/bgm.ogg", "/bgm/*.ogg", false},
    {"/a/b.ogg", "/a/?.o*", true},
    {"x.ogg", "*?.ogg", true},
    {".ogg", "*?.ogg", false},
    {"", "**", true},
    {"", " ", true},
    {"", ";", true},
    {"x", " ;*x", true},
};

} // namespace

TEST(WildcardTable, TableAgreesOnBothMatchers) {
    for (const MatchCase& c : match_cases) {
        EXPECT_EQ(wildcard_match(c.path, c.pattern), c.expected)
            << "wildcard_match(\"" << c.path << "\", \"" << c.pattern << "\")";
        EXPECT_EQ(platform_path_match_pattern(c.path, c.pattern), c.expected)
            << "platform_path_match_pattern(\"" << c.path << "\", \"" << c.pattern << "\")";
        EXPECT_EQ(reference_wildcard_match(c.path, c.pattern), c.expected)
            << "reference_wildcard_match(\"" << c.path << "\", \"" << c.pattern << "\")";
        WildcardIndex index;
        wildcard_index_add(index, c.pattern);
        EXPECT_EQ(wildcard_index_match(index, c.path), c.expected)
            << "wildcard_index_match(\"" << c.path << "\", \"" << c.pattern << "\")";
    }
    EXPECT_FALSE(wildcard_match(nullptr, "*"));
    EXPECT_FALSE(wildcard_match("a", nullptr));
}

namespace {

std::string random_text(uint32_t* state, const std::vector<std::string>& alphabet, size_t most) {
    auto next = [state] {
        *state ^= *state << 13;
        *state ^= *state >> 17;
        *state ^= *state << 5;
        return *state;
    };
    std::string out;
    size_t length = next() % (most + 1);
    for (size_t i = 0; i < length; ++i) {
        out += alphabet[next() % alphabet.size()];
    }
    return out;
}

} // namespace

TEST(WildcardTable, RandomCasesAgreeWithSimpleReading) {
    const std::vector<std::string> path_alphabet = {"a",        "B",        "b",        ".", "/",
                                                    "\x83\x5C", "\x83\x41", "\x83\x61", "A"};
    const std::vector<std::string> pattern_alphabet = {"a", "b", "A", ".", "/",        "*",
                                                       "*", "?", ";", " ", "\x83\x5C", "\x83\x41"};
    uint32_t state = 12345;
    int disagreements = 0;
    for (int round = 0; round < 20000 && disagreements < 10; ++round) {
        std::string path = random_text(&state, path_alphabet, 7);
        std::string pattern = random_text(&state, pattern_alphabet, 6);
        bool expected = reference_wildcard_match(path, pattern);
        bool ours = wildcard_match(path.c_str(), pattern.c_str());
        bool platform = platform_path_match_pattern(path.c_str(), pattern.c_str());
        WildcardIndex index;
        wildcard_index_add(index, pattern.c_str());
        bool indexed = wildcard_index_match(index, path.c_str());
        if (ours != expected || platform != expected || indexed != expected) {
            ++disagreements;
            ADD_FAILURE() << "path \"" << path << "\" pattern \"" << pattern << "\": reference "
                          << expected << ", wildcard_match " << ours << ", platform " << platform
                          << ", index " << indexed;
        }
    }
}

TEST(WildcardTable, IndexOfManyListsAnswersAsAnyOfThem) {
    // Lists of every shape share the index's sets and trees; each path must
    // be answered as trying every list in turn would.
    const std::vector<std::string> path_chars = {"a", "B", ".", "/", "\x83\x5C", "\x83\x41"};
    const std::vector<std::string> pattern_chars = {"a", "b", ".", "/", "*", "*", "?", "\x83\x41"};
    uint32_t state = 777;
    for (int round = 0; round < 400; ++round) {
        std::vector<std::string> lists;
        WildcardIndex index;
        for (int i = 0; i < 12; ++i) {
            lists.push_back(random_text(&state, pattern_chars, 5));
            wildcard_index_add(index, lists.back().c_str());
        }
        for (int i = 0; i < 40; ++i) {
            std::string path = random_text(&state, path_chars, 8);
            bool expected = false;
            for (const std::string& list : lists) {
                expected = expected || wildcard_match(path.c_str(), list.c_str());
            }
            ASSERT_EQ(wildcard_index_match(index, path.c_str()), expected)
                << "path \"" << path << "\" round " << round;
        }
    }
}

TEST(WildcardTable, ManyStarsStayFast) {
    // A backtracking matcher needs exponential time here; a fuzzer finds
    // such patterns quickly.
    std::string path(3000, 'a');
    std::string pattern;
    for (int i = 0; i < 40; ++i) {
        pattern += "*a";
    }
    EXPECT_FALSE(wildcard_match(path.c_str(), (pattern + "*b").c_str()));
    EXPECT_TRUE(wildcard_match(path.c_str(), (pattern + "*").c_str()));
    std::string spaced(2000, 'x');
    spaced += ".txt";
    EXPECT_TRUE(wildcard_match(spaced.c_str(), "*x*x*x*x*x*x*x*x*x*x*x*x*.txt"));
    EXPECT_FALSE(wildcard_match(spaced.c_str(), "*x*x*x*x*x*x*x*x*x*x*x*x*.txd"));
}
