#include "update/updater_test_support.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "archive/epk2_format.h"
#include "epk2.h"
#include "fs/filesystem.h"
#include "fs/sorted_folder.h"
#include "platform/platform.h"
#include "stream/stream.h"

std::string info_txt(const std::string& version, const std::string& attribute,
                     const std::string& identifer) {
    return "identifer=" + identifer + "\r\nversion=" + version + "\r\nattribute=" + attribute +
           "\r\n";
}

void write_tree(const std::string& folder, const Tree& tree) {
    for (const auto& [path, content] : tree) {
        write_tree_file(folder, path, content);
    }
}

void pack_tree(const Tree& tree, const std::string& path) {
    // As after the dialog closed: Windows refuses to replace a patch the
    // last refresh holds open.
    release_held_patch();
    TempDir source;
    write_tree(source.path(), tree);
    std::string error;
    FolderWalkReport report;
    FileSystem* fs = sorted_folder_open(source.path(), {}, error, report);
    ASSERT_NE(fs, nullptr) << error;
    ArchiveBuilder builder;
    builder.options.log = nullptr;
    bool packed = builder.pack(path.c_str(), fs, nullptr, nullptr, nullptr);
    fs_close(fs);
    ASSERT_TRUE(packed) << builder.error();
}

VersionInfo archive_version(const std::string& path) {
    VersionInfo info{};
    if (FileSystem* fs = archive_open(nullptr, path.c_str(), nullptr)) {
        read_version_info(fs, &info);
        fs_close(fs);
    }
    return info;
}

std::string archive_entry(const std::string& archive, const std::string& entry) {
    FileSystem* fs = archive_open(nullptr, archive.c_str(), nullptr);
    if (!fs) {
        return "<missing>";
    }
    std::string content = "<missing>";
    if (Stream* s = fs_open(fs, entry.c_str(), 0, 0, STREAM_OPEN_READ, nullptr)) {
        content.clear();
        char block[4096];
        while (stream_state(s) != STREAM_STATE_END) {
            uint32_t n = stream_read(s, block, sizeof block);
            if (n == 0) {
                break;
            }
            content.append(block, n);
        }
        stream_close(s);
    }
    fs_close(fs);
    return content;
}

namespace {
int collect_path(void* context, FileSystem*, DirEntry* entry) {
    static_cast<std::vector<std::string>*>(context)->push_back(entry->name);
    return 1;
}

// XORs the table region's first 1024 bytes with key 1, as the format does.
void toggle_table_scramble(std::string& bytes) {
    const unsigned char* key = epk2_key(1);
    uint32_t table_end = 0;
    std::memcpy(&table_end, bytes.data() + EPK2_OFFSET_TABLE_END, 4);
    for (uint32_t p = 0; EPK2_HEADER_SIZE + p < table_end && p < EPK2_SCRAMBLE_LIMIT; ++p) {
        bytes[EPK2_HEADER_SIZE + p] ^= static_cast<char>(key[p % EPK2_KEY_LENGTH]);
    }
}
} // namespace

std::vector<std::string> archive_paths(const std::string& archive) {
    std::vector<std::string> paths;
    if (FileSystem* fs = archive_open(nullptr, archive.c_str(), nullptr)) {
        fs_enumerate(fs, "/", 1, &paths, collect_path);
        fs_close(fs);
    }
    return paths;
}

void damage_entry(const std::string& archive, const std::string& entry) {
    ArchiveEntryInfo info{};
    FileSystem* fs = archive_open(nullptr, archive.c_str(), nullptr);
    ASSERT_NE(fs, nullptr);
    bool found = archive_entry_info(fs, entry.c_str(), &info);
    fs_close(fs);
    ASSERT_TRUE(found) << entry;
    ASSERT_GT(info.stored_size, 8u);
    std::string bytes = read_file(archive);
    bytes[info.data_offset + info.stored_size / 2] ^= 0x55;
    write_file(archive, bytes);
}

void rename_entry(const std::string& archive, const std::string& from, const std::string& to) {
    ASSERT_LE(to.size(), from.size());
    std::string bytes = read_file(archive);
    toggle_table_scramble(bytes);
    // Names follow the records, each after the previous name's terminator
    // (the first name is the root's empty one).
    uint32_t dir_count = 0;
    uint32_t file_count = 0;
    std::memcpy(&dir_count, bytes.data() + 20, 4);
    std::memcpy(&file_count, bytes.data() + 24, 4);
    size_t names =
        EPK2_HEADER_SIZE + EPK2_DIR_RECORD_SIZE * dir_count + EPK2_FILE_RECORD_SIZE * file_count;
    size_t at = bytes.find(std::string(1, '\0') + from + '\0', names);
    ASSERT_NE(at, std::string::npos) << from;
    std::string replacement = to + std::string(from.size() - to.size(), '\0');
    bytes.replace(at + 1, from.size(), replacement);
    toggle_table_scramble(bytes);
    write_file(archive, bytes);
}

UpdateFixture::UpdateFixture()
    : install_(join(temp_.path(), "install")), updater_(join(temp_.path(), "updater")) {
    make_folder(install_);
    make_folder(updater_);
    ActionMode = ACTION_MODE_UPDATE;
}

UpdateFixture::~UpdateFixture() {
    release_held_patch(); // Windows could not remove the folder holding it
}

RecordingView UpdateFixture::view() const {
    RecordingView view;
    view.folder = install_;
    view.module = join(updater_, "updater.exe");
    return view;
}

UpdateSteps UpdateFixture::quiet_steps() const {
    UpdateSteps steps = default_update_steps();
    steps.merge_log = nullptr;
    return steps;
}

int UpdateFixture::run_epk2(std::vector<std::string> words, std::string& out,
                            std::string& err) const {
    words.insert(words.begin(), "epk2");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    const std::string out_path = join(root(), "out.txt"), err_path = join(root(), "err.txt");
    FILE* out_file = std::fopen(out_path.c_str(), "wb");
    FILE* err_file = std::fopen(err_path.c_str(), "wb");
    Console console{out_file, err_file, false};
    int status = epk2_main(int(argv.size()), argv.data(), console);
    std::fclose(out_file);
    std::fclose(err_file);
    out = read_file(out_path);
    err = read_file(err_path);
    return status;
}
