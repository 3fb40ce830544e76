// "_config.txt" packing rules: which files stay uncompressed.
#include <gtest/gtest.h>

#include "archive/builder_test_support.h"
#include "common/test_support.h"

namespace {

// Packs a source whose _config.txt is config and returns, per path, whether
// the file was stored compressed.
std::map<std::string, bool> compressed_after_pack(const std::string& config) {
    TempDir dir;
    const std::string text = make_bytes(3000, 5);
    MemoryFsSpec spec;
    spec.entries = {{"/_config.txt", config}, {"/a.ogg", text},       {"/bgm/", ""},
                    {"/bgm/b.ogg", text},     {"/bgm/c.OGG", text},   {"/bgm/d.txt", text},
                    {"/script/", ""},         {"/script/e.txt", text}};
    FsPtr source(memory_fs_create(spec));
    PackResult result = pack_sources(dir, source.get(), nullptr);
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
