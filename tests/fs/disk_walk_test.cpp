#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "fs/disk_fs.h"
#include "fs_test_support.h"
#include "platform/platform.h"
#include "stream/stream.h"
#include "support/messages.h"
#include "support/test_support.h"

namespace {

using Names = std::vector<std::string>;

// Collects what the walk reports instead of sending it to the debugger.
struct ReportLog {
    ReportLog() { set_message_hook(reinterpret_cast<intptr_t>(this), hook); }
    ~ReportLog() { set_message_hook(0, nullptr); }
    static void hook(intptr_t value, const char* text) {
        reinterpret_cast<ReportLog*>(value)->texts.push_back(text);
    }
    bool mentions(const std::string& part) const {
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::string& t) { return t.find(part) != std::string::npos; });
    }
    Names texts;
};

Names walk_names(const std::string& folder, int recursive, int* result) {
    EntryLog log;
    *result = disk_walk(folder.c_str(), recursive, &log, nullptr, EntryLog::record);
    Names names = log.names();
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(DiskWalk, ListsAFolderWhoseNameEndsInATrailByte0x5C) {
    // "表" in code page 932 is 0x95 0x5C: its second byte is no separator.
    TempDir dir;
    std::string folder = dir.path() + platform_separator() + "\x95\x5C";
    ASSERT_EQ(disk_make_dir(folder.c_str()), 1);
    std::string file = folder + platform_separator() + "x.txt";
    Stream* s = fs_open(nullptr, file.c_str(), 0, 0, STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    stream_close(s);
    int result = 0;
    EXPECT_EQ(walk_names(folder, 1, &result), Names{"/x.txt"});
    EXPECT_EQ(result, 1);
    EXPECT_EQ(walk_names(dir.path(), 1, &result), (Names{"/\x95\x5C", "/\x95\x5C/x.txt"}));
    EXPECT_EQ(walk_names(dir.file("missing"), 1, &result), Names{});
    EXPECT_EQ(result, 0);
}

#ifndef _WIN32
// Linux allows names and depths that the code-page side cannot carry; the
// walk leaves them out, says so, and goes on with the rest.
TEST(DiskWalk, LeavesOutAndReportsWhatCannotBeHandedOn) {
    TempDir dir;
    write_whole_file(dir.file("plain.txt"), "p");
    write_whole_file(dir.file("smile \xF0\x9F\x98\x80.txt"), "s");
    std::string deep = dir.path();
    std::string deep_name;
    while (deep.size() < 300) {
        deep_name = std::string(60, 'd');
        deep += "/" + deep_name;
    }
    std::filesystem::create_directories(deep);
    write_whole_file(deep + "/lost.txt", "l");

    ReportLog reports;
    EntryLog log;
    EXPECT_EQ(disk_walk(dir.path().c_str(), 1, &log, nullptr, EntryLog::record), 1);
    Names names = log.names();
    EXPECT_NE(std::find(names.begin(), names.end(), "/plain.txt"), names.end());
    for (const std::string& name : names) {
        EXPECT_EQ(name.find("smile"), std::string::npos) << name;
        EXPECT_EQ(name.find("lost.txt"), std::string::npos) << name;
    }
    EXPECT_TRUE(reports.mentions(dir.path())) << "the folder with the odd name is named";
    EXPECT_TRUE(reports.mentions(deep_name)) << "the folder too deep to list is named";
    for (const std::string& text : reports.texts) {
        EXPECT_EQ(text.rfind("Error: ", 0), 0u) << text;
    }
}
#endif
