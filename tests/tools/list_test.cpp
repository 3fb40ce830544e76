// "epk2 list": the table and --json, in archive order.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

const std::string JP_FOLDER = "\x83\x66\x81\x5B\x83\x5E"; // データ
const std::string JP_FILE = "\x83\x5C.txt";               // ソ.txt
const std::string JP_FOLDER_UTF8 = "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF";
const std::string JP_FILE_UTF8 = "\xE3\x82\xBD.txt";

// Directories and files deliberately out of name order: list keeps the
// archive's order, every directory before its contents, subdirectories
// before files at each level.
TestArchive ordered_archive() {
    TestArchive archive;
    archive.dirs = {"/zeta", "/alpha", "/zeta/inner", "/empty"};
    archive.files = {
        {"/z.txt", make_bytes(2000, 41), 1, true},
        {"/a.bin", make_bytes(100, 42, false), 2, false},
        {"/zeta/inner/deep.txt", make_bytes(900, 43), 3, true},
        {"/zeta/b.txt", "bee", 0, false},
        {"/alpha/zero", ""},
        {"/" + JP_FOLDER + "/" + JP_FILE, "so", 4, true},
    };
    return archive;
}

// Archive order of the paths above.
const std::vector<std::string> ORDER = {
    "/zeta",       "/zeta/inner",   "/zeta/inner/deep.txt",
    "/zeta/b.txt", "/alpha",        "/alpha/zero",
    "/empty",      "/" + JP_FOLDER, "/" + JP_FOLDER + "/" + JP_FILE,
    "/z.txt",      "/a.bin",
};

struct Stored {
    uint32_t size, stored, key;
};

class ListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        archive_ = join(temp_.path(), "list.dat");
        bytes_ = save_archive(archive_, ordered_archive());
    }
    // Record figures of file j as the table holds them.
    Stored record(uint32_t file) const {
        uint32_t dirs = test_get_u32(bytes_, 20);
        return {test_table_get_u32(bytes_, file_field(dirs, file, 16)),
                test_table_get_u32(bytes_, file_field(dirs, file, 12)),
                uint32_t(uint8_t(test_table_get_u32(bytes_, file_field(dirs, file, 4)) >> 24))};
    }
    // File index of a path in the writer's order.
    static uint32_t file_index(const std::string& path) {
        TestArchive archive = ordered_archive();
        for (size_t i = 0; i < archive.files.size(); ++i) {
            if (archive.files[i].path == path) {
                return uint32_t(i + 1);
            }
        }
        return 0;
    }

    TempDir temp_;
    std::string archive_;
    std::string bytes_;
};

TEST_F(ListTest, TableShowsEachEntryInArchiveOrder) {
    ToolRun run = run_tool({"list", archive_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> lines = lines_of(run.out);
    ASSERT_EQ(lines.size(), ORDER.size() + 2) << run.out;
    EXPECT_EQ(words_of(lines[0]),
              (std::vector<std::string>{"size", "stored", "key", "comp", "path"}));
    uint64_t total_size = 0;
    uint64_t total_stored = 0;
    for (size_t i = 0; i < ORDER.size(); ++i) {
        SCOPED_TRACE(ORDER[i]);
        std::vector<std::string> words = words_of(lines[i + 1]);
        ASSERT_EQ(words.size(), 5u) << lines[i + 1];
        uint32_t file = file_index(ORDER[i]);
        if (file == 0) {
            EXPECT_EQ(words, (std::vector<std::string>{"-", "-", "-", "dir", arg(ORDER[i])}));
            continue;
        }
        Stored figures = record(file);
        total_size += figures.size;
        total_stored += figures.stored;
        EXPECT_EQ(words[0], std::to_string(figures.size));
        EXPECT_EQ(words[1], std::to_string(figures.stored));
        EXPECT_EQ(words[2], std::to_string(figures.key));
        EXPECT_EQ(words[3], figures.size != figures.stored ? "yes" : "no");
        EXPECT_EQ(words[4], arg(ORDER[i]));
    }
    EXPECT_EQ(words_of(lines.back()),
              (std::vector<std::string>{std::to_string(total_size), std::to_string(total_stored),
                                        "6", "files,", "5", "directories"}));
    // The Japanese names come out in the terminal's encoding.
    EXPECT_TRUE(contains(run.out, arg("/" + JP_FOLDER + "/" + JP_FILE)));
#ifndef _WIN32
    EXPECT_TRUE(contains(run.out, "/" + JP_FOLDER_UTF8 + "/" + JP_FILE_UTF8));
#endif
}

TEST_F(ListTest, JsonIsOneArrayOfEntriesWithUtf8Paths) {
    ToolRun run = run_tool({"list", "--json", archive_});
    EXPECT_EQ(run.status, 0) << run.err;
    Json json;
    std::string error;
    ASSERT_TRUE(parse_json(run.out, json, error)) << error << "\n" << run.out;
    ASSERT_EQ(json.type(), Json::value_t::array);
    ASSERT_EQ(json.size(), ORDER.size());
    for (size_t i = 0; i < ORDER.size(); ++i) {
        SCOPED_TRACE(ORDER[i]);
        const Json& entry = json.at(i);
        ASSERT_EQ(entry.type(), Json::value_t::object);
        const Json* path = member(entry, "path");
        const Json* type = member(entry, "type");
        ASSERT_TRUE(path && path->is_string());
        ASSERT_TRUE(type && type->is_string());
        // UTF-8 on both builds, whatever the terminal speaks.
        EXPECT_EQ(path->get<std::string>(), utf8(ORDER[i]));
        uint32_t file = file_index(ORDER[i]);
        if (file == 0) {
            EXPECT_EQ(type->get<std::string>(), "directory");
            EXPECT_EQ(entry.size(), 2u);
            continue;
        }
        EXPECT_EQ(type->get<std::string>(), "file");
        Stored figures = record(file);
        const Json* size = member(entry, "size");
        const Json* stored = member(entry, "stored_size");
        const Json* key = member(entry, "key");
        const Json* compressed = member(entry, "compressed");
        ASSERT_TRUE(size && stored && key && compressed);
        EXPECT_TRUE(size->is_number());
        EXPECT_EQ(size->get<double>(), double(figures.size));
        EXPECT_EQ(stored->get<double>(), double(figures.stored));
        EXPECT_EQ(key->get<double>(), double(figures.key));
        ASSERT_EQ(compressed->type(), Json::value_t::boolean);
        EXPECT_EQ(compressed->get<bool>(), figures.size != figures.stored);
    }
    EXPECT_EQ(json.at(8).at("path").get<std::string>(), "/" + JP_FOLDER_UTF8 + "/" + JP_FILE_UTF8);

    // An archive with only its root is an empty array.
    const std::string empty = join(temp_.path(), "empty.dat");
    save_archive(empty, TestArchive{});
    ToolRun none = run_tool({"list", "--json", empty});
    EXPECT_EQ(none.status, 0);
    ASSERT_TRUE(parse_json(none.out, json, error)) << error << none.out;
    EXPECT_EQ(json.type(), Json::value_t::array);
    EXPECT_TRUE(json.empty());
    ToolRun table = run_tool({"list", empty});
    EXPECT_EQ(table.status, 0);
    EXPECT_TRUE(contains(table.out, "0 files, 0 directories")) << table.out;
}

TEST_F(ListTest, AttributeBitsNeverTurnAFileIntoADirectory) {
    // A file's attribute byte may carry the bit that enumeration uses for
    // directories; a file may even share its name with a directory beside
    // it. Each is still listed for what its record is.
    TestArchive archive;
    archive.dirs = {"/same", "/other"};
    archive.files = {{"/same", "file beside a folder", 1, true, 0x80},
                     {"/flagged.bin", "flagged", 2, false, 0xFF},
                     {"/other/inside.txt", "inside", 3, true, 0x81},
                     {"/plain.txt", "plain", 0, false, 0x20}};
    const std::string path = join(temp_.path(), "attributes.dat");
    save_archive(path, archive);
    ToolRun run = run_tool({"list", "--json", path});
    EXPECT_EQ(run.status, 0) << run.err;
    Json json;
    std::string error;
    ASSERT_TRUE(parse_json(run.out, json, error)) << error << run.out;
    std::vector<std::pair<std::string, std::string>> got;
    for (const Json& entry : json) {
        got.emplace_back(entry.at("path").get<std::string>(), entry.at("type").get<std::string>());
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"/same", "directory"}, {"/other", "directory"},  {"/other/inside.txt", "file"},
        {"/same", "file"},      {"/flagged.bin", "file"}, {"/plain.txt", "file"}};
    EXPECT_EQ(got, expected);
    ToolRun table = run_tool({"list", path});
    EXPECT_TRUE(contains(table.out, "4 files, 2 directories")) << table.out;
    // Every entry reads; attribute bytes are only not what epk2 pack writes.
    ToolRun verify = run_tool({"verify", path});
    EXPECT_EQ(verify.status, 0);
    EXPECT_TRUE(contains(verify.out, "4 files checked, 0 damaged")) << verify.out;
    EXPECT_TRUE(contains(verify.out, "NOTE /flagged.bin: attribute byte is 0xFF, not 0"))
        << verify.out;
    EXPECT_EQ(run_tool({"cat", path, "/same"}).out, "file beside a folder");
}

TEST_F(ListTest, JsonStaysValidForAnyNameBytes) {
    // Names may hold quotes, backslashes, control characters and bytes that
    // are no code page 932 character; the JSON must still parse as UTF-8.
    TestArchive archive;
    archive.files = {{"/q\"uote.txt", "1"},       {"/back\\slash", "2"},
                     {"/ctl\x01\x1f\t.txt", "3"}, {"/bad\x80\xA0\xFD.bin", "4"},
                     {"/cut\x83", "5"},           {"/\x83\x5C\x95\x5C", "6"}};
    const std::string path = join(temp_.path(), "names.dat");
    save_archive(path, archive);
    ToolRun run = run_tool({"list", "--json", path});
    EXPECT_EQ(run.status, 0) << run.err;
    Json json;
    std::string error;
    ASSERT_TRUE(parse_json(run.out, json, error)) << error << "\n" << run.out;
    ASSERT_EQ(json.size(), 6u);
    EXPECT_EQ(json.at(0).at("path").get<std::string>(), "/q\"uote.txt");
    EXPECT_EQ(json.at(1).at("path").get<std::string>(), "/back\\slash");
    EXPECT_EQ(json.at(2).at("path").get<std::string>(), "/ctl\x01\x1f\t.txt");
    EXPECT_EQ(json.at(5).at("path").get<std::string>(), "/\xE3\x82\xBD\xE8\xA1\xA8"); // ソ表
    for (const Json& entry : json) {
        EXPECT_EQ(entry.at("type").get<std::string>(), "file");
    }
    // The reader used here refuses what is not JSON.
    EXPECT_FALSE(parse_json("[{\"path\": \"a\"},]", json, error));
    EXPECT_FALSE(parse_json("[\"\xE3\x82\"]", json, error));
    EXPECT_FALSE(parse_json("[\"a\x01\"]", json, error));
}

// Names holding control characters: with these bytes raw, a name could
// retitle the terminal, move the cursor or forge a line of the output.
struct ControlName {
    std::string name;
    std::string shown;
};
const ControlName CONTROL_NAMES[] = {
    {"/\x1B]0;owned\x07.txt", "/\\x1B]0;owned\\x07.txt"},
    {"/two\nlines\r.txt", "/two\\nlines\\r.txt"},
    {"/tab\t\x7F\x1B[2J", "/tab\\t\\x7F\\x1B[2J"},
    {"/\x83\n.bin", "/\\x83\\n.bin"}, // a lead byte never takes a control byte along
};

// True when no line of text holds a control character.
bool lines_are_plain(const std::string& text) {
    for (const std::string& line : lines_of(text)) {
        for (unsigned char c : line) {
            if (c < 0x20 || c == 0x7F) {
                return false;
            }
        }
    }
    return true;
}

TEST_F(ListTest, ControlCharactersInNamesAreShownEscaped) {
    TestArchive archive;
    for (const ControlName& c : CONTROL_NAMES) {
        // Keys in the rotation epk2 pack uses.
        uint8_t key = uint8_t(archive.files.size() % 4 + 1);
        archive.files.push_back({c.name, make_bytes(3000, key), key, true});
    }
    std::string bytes = build_test_archive(archive);
    // Each entry damaged, so that verify names it too.
    for (uint32_t file = 1; file <= archive.files.size(); ++file) {
        uint32_t offset = test_table_get_u32(bytes, file_field(1, file, 8));
        bytes[offset + test_table_get_u32(bytes, file_field(1, file, 12)) / 2] ^= 0x55;
    }
    const std::string path = join(temp_.path(), "controls.dat");
    write_file(path, bytes);

    // list ends a line with the name, verify starts one with it. A name let
    // through raw would fail both: its escaped form on one line, and no
    // control character on any.
    const struct {
        const char* command;
        std::string lead;
        bool name_ends_line;
    } commands[] = {{"list", "  ", true}, {"verify", "DAMAGED ", false}};
    for (const auto& command : commands) {
        SCOPED_TRACE(command.command);
        ToolRun run = run_tool({command.command, path});
        const std::vector<std::string> lines = lines_of(run.out);
        EXPECT_TRUE(lines_are_plain(run.out)) << run.out;
        for (const ControlName& c : CONTROL_NAMES) {
            const std::string part = command.lead + c.shown + (command.name_ends_line ? "" : ": ");
            bool found = false;
            for (const std::string& line : lines) {
                size_t at =
                    command.name_ends_line ? line.size() - std::min(line.size(), part.size()) : 0;
                found = found || line.compare(at, part.size(), part) == 0;
            }
            EXPECT_TRUE(found) << c.shown << "\n" << run.out;
        }
    }
    // JSON keeps its own escapes: the names come back byte for byte.
    ToolRun json_run = run_tool({"list", "--json", path});
    Json json;
    std::string error;
    ASSERT_TRUE(parse_json(json_run.out, json, error)) << error << json_run.out;
    ASSERT_EQ(json.size(), std::size(CONTROL_NAMES));
    for (size_t i = 0; i < 3; ++i) { // the last is no code page 932 text
        EXPECT_EQ(json.at(i).at("path").get<std::string>(), utf8(CONTROL_NAMES[i].name));
    }
}

} // namespace
