// "_config.txt" packing rules: which files stay uncompressed.
#include <gtest/gtest.h>

#include "archive/builder_test_support.h"
#include "platform/wildcard.h"
#include "support/test_support.h"

namespace {

// Packs a source whose _config.txt is config and returns, per path, whether
// the file was stored compressed. With failed given, the pack may fail: the
// builder's error comes back there (empty when it succeeded).
std::map<std::string, bool> compressed_after_pack(const std::string& config,
                                                  std::string* failed = nullptr) {
    TempDir dir;
    const std::string text = make_bytes(3000, 5);
    MemoryTree tree;
    tree.entries = {{"/_config.txt", config}, {"/a.ogg", text},       {"/bgm", "", true},
                    {"/bgm/b.ogg", text},     {"/bgm/c.OGG", text},   {"/bgm/d.txt", text},
                    {"/script", "", true},    {"/script/e.txt", text}};
    FsPtr source(memory_fs_open(tree));
    PackResult result = pack_sources(dir, source.get(), nullptr);
    if (failed) {
        *failed = result.ok ? std::string() : result.error;
        if (!result.ok) {
            EXPECT_EQ(result.bytes, "") << "a failed pack leaves no output";
            return {};
        }
    }
    EXPECT_TRUE(result.ok) << result.error;
    std::map<std::string, bool> compressed;
    for (const RecordView& record : file_records(dir.file("out.dat"))) {
        compressed[record.path] = record.stored_size != record.size;
    }
    ReadBack back = read_back(dir.file("out.dat"));
    for (const auto& [path, content] : back.files) {
        if (path != "/_config.txt") {
            EXPECT_EQ(content, text) << path;
        }
    }
    return compressed;
}

} // namespace

TEST(BuilderRules, ExtensionPatternMatchesInEveryFolderIgnoringCase) {
    auto compressed = compressed_after_pack("[NoCompression]\r\n*.ogg\r\n");
    EXPECT_FALSE(compressed["/a.ogg"]);
    EXPECT_FALSE(compressed["/bgm/b.ogg"]);
    EXPECT_FALSE(compressed["/bgm/c.OGG"]);
    EXPECT_TRUE(compressed["/bgm/d.txt"]);
    EXPECT_TRUE(compressed["/script/e.txt"]);
}

TEST(BuilderRules, PatternsMatchTheFullPathWithItsLeadingSlash) {
    auto compressed = compressed_after_pack("[NoCompression]\r\nbgm/*\r\n\r\n/script/*\r\n");
    EXPECT_TRUE(compressed["/bgm/b.ogg"]) << "a pattern without the leading / matches nothing";
    EXPECT_TRUE(compressed["/a.ogg"]) << "an empty pattern matches nothing";
    EXPECT_FALSE(compressed["/script/e.txt"]);
}

TEST(BuilderRules, OnlyTheExactSectionLineStartsTheList) {
    // LF-only line ends make one long line: nothing is collected.
    auto lf_only = compressed_after_pack("[NoCompression]\n*.ogg\n");
    EXPECT_TRUE(lf_only["/a.ogg"]);
    // A trailing blank spoils the header.
    auto blank = compressed_after_pack("[NoCompression] \r\n*.ogg\r\n");
    EXPECT_TRUE(blank["/a.ogg"]);
    // Lines before the section are ignored; a later bracketed line is skipped
    // and does not end the list.
    auto sections = compressed_after_pack("*.txt\r\n[NoCompression]\r\n[Other]\r\n*.ogg\r\n");
    EXPECT_TRUE(sections["/bgm/d.txt"]);
    EXPECT_FALSE(sections["/a.ogg"]);
    EXPECT_FALSE(sections["/bgm/b.ogg"]);
}

TEST(BuilderRules, SemicolonSeparatedPatternsAndTheConfigFileItselfIsPacked) {
    auto compressed = compressed_after_pack("[NoCompression]\r\n/a.ogg; /script/*\r\n");
    EXPECT_FALSE(compressed["/a.ogg"]);
    EXPECT_FALSE(compressed["/script/e.txt"]);
    EXPECT_TRUE(compressed["/bgm/b.ogg"]);
    EXPECT_EQ(compressed.count("/_config.txt"), 1u);
}

std::string repeated(const std::string& text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += text;
    }
    return out;
}

TEST(BuilderRules, RuleFilesOverTheLimitsFailThePackNamingThem) {
    // At most 1 MiB and 65,536 patterns, as many as a game's rules could
    // hold; blank lines are no patterns.
    const std::string head = "[NoCompression]\r\n*.ogg\r\n";
    const struct {
        const char* what;
        std::string config;
        bool refused;
    } cases[] = {
        {"1 MiB", head + std::string((1 << 20) - head.size(), ' '), false},
        {"1 MiB and a byte", head + std::string((1 << 20) + 1 - head.size(), ' '), true},
        {"65536 patterns", head + repeated("*.OGG\r\n", 65535), false},
        {"65537 patterns", head + repeated("*.OGG\r\n", 65536), true},
        {"blank lines", repeated(head + repeated("\r\n", 500) + repeated(" \r\n", 500), 20), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        auto compressed = compressed_after_pack(c.config, &error);
        if (c.refused) {
            EXPECT_NE(error.find("_config.txt"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(error, "");
        EXPECT_FALSE(compressed["/bgm/b.ogg"]);
        EXPECT_TRUE(compressed["/bgm/d.txt"]);
    }
    // Read directly, a refused file leaves the patterns as they were; so
    // does one that stops short of its size.
    MemoryTree too_many{{{"/_config.txt", cases[3].config}}, {}, {}};
    MemoryTree cut_short{{{"/_config.txt", head + "\r\n"}}, {}, {{"/_config.txt", 4}}};
    for (const auto& [tree, says] : {std::pair{too_many, "65536"}, std::pair{cut_short, "end"}}) {
        FsPtr source(memory_fs_open(tree));
        std::vector<std::string> patterns = {"kept"};
        std::string error;
        EXPECT_FALSE(read_packing_rules(source.get(), patterns, &error));
        EXPECT_EQ(patterns, std::vector<std::string>{"kept"});
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
}

TEST(BuilderRules, PathsOfAnyLengthAnswerAsTheMatcher) {
    // Past the room a path is usually folded in, and with double-byte
    // characters whose trail bytes look like letters, "\" or ".".
    const std::string deep = "/" + std::string(600, 'a');
    const std::vector<std::string> paths = {deep + "/x.ogg", deep + "/\x83\x5c.OGG",
                                            deep + "/\x81\x61", "/" + std::string(510, 'b'),
                                            "/\x83\x5c" + std::string(520, 'c') + ".ogg"};
    const std::vector<std::string> patterns = {
        "*.ogg", "/aaa*", "*a", "*\x83\x5c.ogg", deep + "/x.OGG", "*a/?.ogg", "/\x83\x5c*", "*b"};
    for (const std::string& path : paths) {
        for (const std::string& pattern : patterns) {
            EXPECT_EQ(matches_no_compression({pattern}, path),
                      wildcard_match(path.c_str(), pattern.c_str()))
                << path.size() << "-byte path, pattern " << pattern.substr(0, 20);
        }
    }
}
