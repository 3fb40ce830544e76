// Work files: whatever lies at the destination or the work file's own name,
// the destination ends up a regular file holding exactly what was written,
// or stays as it was; and only the file the work file created is removed.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "stream/stream.h"
#include "stream/work_file.h"
#include "support/test_support.h"

namespace {

bool write_all(WorkFile* work, const std::string& bytes) {
    Stream* s = work_file_stream(work, nullptr);
    if (!s) {
        return false;
    }
    bool ok = stream_write(s, bytes.data(), uint32_t(bytes.size())) == bytes.size();
    stream_close(s);
    return ok;
}

struct WorkFileCase {
    const char* name;
    bool fixed_name; // written as "dest.tmp" instead of a fresh name
    // Puts things in the way before (and, with work, while) the file is
    // written; dir is the test folder, victim a file nobody may change.
    std::function<void(const std::string& dir, const std::string& victim)> before;
    std::function<void(WorkFile* work, const std::string& dir)> meanwhile;
    bool committed;
    const char* destination_after; // its content; null: as it was
};

TEST(WorkFile, DestinationIsReplacedWholeOrNotAtAll) {
    const std::vector<WorkFileCase> cases = {
        {"a new destination", false, nullptr, nullptr, true, "new"},
        {"an old destination", false,
         [](const std::string& dir, const std::string&) { write_whole_file(dir + "/dest", "old"); },
         nullptr, true, "new"},
        {"a stale work file under the fixed name", true,
         [](const std::string& dir, const std::string&) {
             write_whole_file(dir + "/dest.tmp", "left by a crash");
         },
         nullptr, true, "new"},
#ifndef _WIN32
        {"the destination is a link to the victim", false,
         [](const std::string& dir, const std::string& victim) {
             ASSERT_EQ(symlink(victim.c_str(), (dir + "/dest").c_str()), 0);
         },
         nullptr, true, "new"},
        {"the destination is a hard link to the victim", false,
         [](const std::string& dir, const std::string& victim) {
             ASSERT_EQ(link(victim.c_str(), (dir + "/dest").c_str()), 0);
         },
         nullptr, true, "new"},
        {"a link to the victim under the fixed name", true,
         [](const std::string& dir, const std::string& victim) {
             ASSERT_EQ(symlink(victim.c_str(), (dir + "/dest.tmp").c_str()), 0);
         },
         nullptr, true, "new"},
        {"a hard link to the victim under the fixed name", true,
         [](const std::string& dir, const std::string& victim) {
             ASSERT_EQ(link(victim.c_str(), (dir + "/dest.tmp").c_str()), 0);
         },
         nullptr, true, "new"},
        {"another file is moved over the work file", false,
         [](const std::string& dir, const std::string&) {
             write_whole_file(dir + "/dest", "old");
             write_whole_file(dir + "/planted", "planted");
         },
         [](WorkFile* work, const std::string& dir) {
             ASSERT_EQ(rename((dir + "/planted").c_str(), work->path), 0);
         },
         false, nullptr},
#endif
    };
    // Each case by path, then again within a held folder, by name.
    for (size_t run = 0; run < 2 * cases.size(); ++run) {
        const WorkFileCase& c = cases[run % cases.size()];
        const bool held = run >= cases.size();
        SCOPED_TRACE(std::string(c.name) + (held ? ", in a held folder" : ""));
        TempDir dir;
        const std::string victim = dir.file("victim");
        write_whole_file(victim, "not yours");
        const std::string destination = dir.file("dest");
        if (c.before) {
            c.before(dir.path(), victim);
        }
        const bool existed = file_exists(destination);
        const std::string old = existed ? read_whole_file(destination) : "";

        WorkFile work;
        const std::string fixed = destination + ".tmp";
        PlatformFolder folder =
            held ? platform_folder_open(dir.path().c_str()) : PLATFORM_INVALID_FOLDER;
        ASSERT_TRUE(held ? work_file_create_in(&work, folder, dir.path().c_str(), "dest",
                                               c.fixed_name ? "dest.tmp" : nullptr)
                         : work_file_create(&work, destination.c_str(),
                                            c.fixed_name ? fixed.c_str() : nullptr));
        ASSERT_TRUE(write_all(&work, "new"));
        const std::string work_path = work.path;
        if (c.meanwhile) {
            c.meanwhile(&work, dir.path());
        }
        EXPECT_EQ(work_file_commit(&work), c.committed);
        work_file_discard(&work); // nothing more to do after a commit
        platform_folder_close(folder);

        EXPECT_EQ(read_whole_file(victim), "not yours");
        if (c.destination_after) {
            EXPECT_EQ(read_whole_file(destination), c.destination_after);
        } else {
            EXPECT_EQ(file_exists(destination), existed);
            EXPECT_EQ(read_whole_file(destination), old);
        }
#ifndef _WIN32
        struct stat info;
        ASSERT_EQ(lstat(destination.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
#endif
        // A work file that did not move is gone, unless it was not ours.
        if (c.committed || !c.meanwhile) {
            EXPECT_FALSE(file_exists(work_path));
        } else {
            EXPECT_EQ(read_whole_file(work_path), "planted");
        }
    }
}

TEST(WorkFile, DiscardRemovesOnlyWhatItCreated) {
    TempDir dir;
    const std::string destination = dir.file("dest");
    write_whole_file(destination, "old");
    WorkFile work;
    ASSERT_TRUE(work_file_create(&work, destination.c_str()));
    ASSERT_TRUE(write_all(&work, "half"));
    const std::string work_path = work.path;
    work_file_discard(&work);
    EXPECT_FALSE(file_exists(work_path));
    EXPECT_EQ(read_whole_file(destination), "old");

    // Fresh names never take one that exists: two work files side by side.
    WorkFile first, second;
    ASSERT_TRUE(work_file_create(&first, destination.c_str()));
    ASSERT_TRUE(work_file_create(&second, destination.c_str()));
    EXPECT_STRNE(first.path, second.path);
    work_file_discard(&first);
    work_file_discard(&second);
}

} // namespace
