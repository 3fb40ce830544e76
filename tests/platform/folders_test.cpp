#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform_test_support.h"
#include "support/test_support.h"

namespace {

std::string current_dir() {
    char buffer[512];
    EXPECT_TRUE(platform_current_dir(buffer, sizeof buffer));
    return buffer;
}

std::string full_path(const std::string& path) {
    char buffer[512];
    uint32_t length = platform_full_path(buffer, sizeof buffer, path.c_str());
    EXPECT_GT(length, 0u) << path;
    EXPECT_LT(length, sizeof buffer) << path;
    EXPECT_EQ(length, std::strlen(buffer)) << path;
    return buffer;
}

} // namespace

TEST(PlatformFolders, CurrentDirectory) {
    std::string here = current_dir();
    EXPECT_EQ(here, std::filesystem::current_path().string());
    EXPECT_FALSE(here.empty());
    char small[4];
    EXPECT_FALSE(platform_current_dir(small, sizeof small));
    // A buffer of exactly the text and its NUL is enough.
    std::string exact(here.size() + 1, 'x');
    EXPECT_TRUE(platform_current_dir(exact.data(), static_cast<uint32_t>(exact.size())));
    EXPECT_EQ(std::string(exact.c_str()), here);
    EXPECT_FALSE(platform_current_dir(exact.data(), static_cast<uint32_t>(here.size())));
}

TEST(PlatformFolders, MakeRemoveAndAttributes) {
    TempDir dir;
    std::string sub = dir.file("sub");
    EXPECT_EQ(platform_attributes(sub.c_str()), PLATFORM_ATTRIBUTES_INVALID);
    EXPECT_TRUE(platform_make_dir(sub.c_str()));
    EXPECT_FALSE(platform_make_dir(sub.c_str())); // already there
    EXPECT_EQ(platform_attributes(sub.c_str()), PLATFORM_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(platform_make_dir(join_path(dir.file("missing"), "x").c_str()));

    std::string file = join_path(sub, "f.txt");
    write_whole_file(file, "x");
    EXPECT_EQ(platform_attributes(file.c_str()), 0u);
    EXPECT_FALSE(platform_remove_dir(sub.c_str()));  // not empty
    EXPECT_FALSE(platform_remove_dir(file.c_str())); // not a folder

    namespace fsys = std::filesystem;
    fsys::permissions(
        file, fsys::perms::owner_write | fsys::perms::group_write | fsys::perms::others_write,
        fsys::perm_options::remove);
    EXPECT_EQ(platform_attributes(file.c_str()), PLATFORM_ATTRIBUTE_READONLY);
    fsys::permissions(file, fsys::perms::owner_write, fsys::perm_options::add);

    EXPECT_TRUE(platform_file_delete(file.c_str()));
    EXPECT_TRUE(platform_remove_dir(sub.c_str()));
    EXPECT_EQ(platform_attributes(sub.c_str()), PLATFORM_ATTRIBUTES_INVALID);
    EXPECT_FALSE(platform_remove_dir(sub.c_str()));
}

TEST(PlatformFolders, FullPathIsLexical) {
    const char s = platform_separator();
    std::string here = current_dir();
    std::string base = here.back() == s ? here : here + s;

    // Relative paths start at the current directory; nothing needs to exist.
    EXPECT_EQ(full_path("no-such-file.txt"), base + "no-such-file.txt");
    EXPECT_EQ(full_path(std::string("a") + s + ".." + s + "b" + s + "." + s + "c"),
              base + "b" + s + "c");
    EXPECT_EQ(full_path(std::string("x") + s + "y" + s), base + "x" + s + "y" + s);
    // Both separators are accepted on Windows; "/" is the only one on POSIX.
    EXPECT_EQ(full_path("p/q"), base + "p" + s + "q");

    std::string root = platform_root();
    EXPECT_EQ(full_path(root + "a" + s + "b" + s + ".." + s + "c"), root + "a" + s + "c");
    EXPECT_EQ(full_path(root + ".." + s + ".." + s + "d"), root + "d");
    EXPECT_EQ(full_path(root), root);

    // Too small a buffer: a result of at least its length, nothing usable.
    char small[8];
    std::string long_name = root + "some" + s + "longer" + s + "name";
    uint32_t needed = platform_full_path(small, sizeof small, long_name.c_str());
    EXPECT_GE(needed, sizeof small);
    EXPECT_EQ(needed, long_name.size() + 1);
}

#ifndef _WIN32
namespace {

// Sets an environment variable for one scope.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        old_ = old ? old : "";
        setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    bool had_;
    std::string old_;
};

} // namespace
#endif

TEST(PlatformFolders, AppDataFolderIsCreated) {
    char buffer[260];
#ifndef _WIN32
    TempDir dir;
    std::string data_home = dir.file("data-home/nested");
    {
        ScopedEnvironment xdg("XDG_DATA_HOME", data_home.c_str());
        EXPECT_TRUE(platform_app_data_dir(buffer));
        EXPECT_EQ(std::string(buffer), data_home);
        EXPECT_EQ(platform_attributes(buffer), PLATFORM_ATTRIBUTE_DIRECTORY);
    }
    {
        // A relative value is no valid XDG folder: the home's share folder serves.
        ScopedEnvironment xdg("XDG_DATA_HOME", "relative/share");
        ScopedEnvironment home("HOME", dir.path().c_str());
        EXPECT_TRUE(platform_app_data_dir(buffer));
        EXPECT_EQ(std::string(buffer), dir.path() + "/.local/share");
        EXPECT_EQ(platform_attributes(buffer), PLATFORM_ATTRIBUTE_DIRECTORY);
    }
#else
    EXPECT_TRUE(platform_app_data_dir(buffer));
    EXPECT_NE(platform_attributes(buffer) & PLATFORM_ATTRIBUTE_DIRECTORY, 0u);
#endif
}
