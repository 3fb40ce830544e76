#include "support/test_archive_writer.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "archive/epk2_format.h"
#include "support/test_support.h"

namespace {

struct Dir {
    uint32_t name_index = 0; // into the component list
    std::string name;
    uint32_t parent = 0, first_child = 0, last_child = 0, first_file = 0, last_file = 0;
    uint32_t prev_sibling = 0, next_sibling = 0;
};

struct File {
    std::string name;
    uint32_t prev = 0, next = 0;
};

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = path.empty() || path[0] != '/' ? 0 : 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Appends the last-made item (1-based) to the list that first and last
// hold, chaining it to the item before through the item's own links.
template <typename Item>
void append_linked(std::vector<Item>& items, uint32_t& first, uint32_t& last, uint32_t Item::*prev,
                   uint32_t Item::*next) {
    uint32_t made = uint32_t(items.size());
    if (last) {
        items[last - 1].*next = made;
        items[made - 1].*prev = last;
    } else {
        first = made;
    }
    last = made;
}

class TreeBuilder {
  public:
    TreeBuilder() { dirs_.push_back(Dir{}); } // the root, index 1

    // Returns the index of the directory named by parts[0..count), making it.
    uint32_t directory(const std::vector<std::string>& parts, size_t count) {
        uint32_t current = 1;
        std::string key;
        for (size_t i = 0; i < count; ++i) {
            key += "/" + parts[i];
            auto found = index_.find(key);
            if (found != index_.end()) {
                current = found->second;
                continue;
            }
            Dir d;
            d.name = parts[i];
            d.parent = current;
            dirs_.push_back(d);
            Dir& parent = dirs_[current - 1];
            append_linked(dirs_, parent.first_child, parent.last_child, &Dir::prev_sibling,
                          &Dir::next_sibling);
            current = uint32_t(dirs_.size());
            index_[key] = current;
        }
        return current;
    }

    void add_file(uint32_t dir, const std::string& name) {
        files_.push_back(File{name});
        Dir& d = dirs_[dir - 1];
        append_linked(files_, d.first_file, d.last_file, &File::prev, &File::next);
    }

    std::vector<Dir> dirs_;
    std::vector<File> files_;

  private:
    std::map<std::string, uint32_t> index_;
};

void put_u32(std::string& out, uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[offset + i] = char((value >> (8 * i)) & 0xFF);
    }
}

void put_u16(std::string& out, uint32_t offset, uint16_t value) {
    out[offset] = char(value & 0xFF);
    out[offset + 1] = char(value >> 8);
}

void scramble(std::string& bytes, uint32_t start, uint32_t length, uint32_t key_number) {
    const unsigned char* key = epk2_key(key_number);
    for (uint32_t p = 0; p < length && p < EPK2_SCRAMBLE_LIMIT; ++p) {
        bytes[start + p] = char(uint8_t(bytes[start + p]) ^ key[p % EPK2_KEY_LENGTH]);
    }
}

std::string stored_bytes(const TestArchiveFile& file) {
    if (!file.compress) {
        return file.contents;
    }
    uLongf length = compressBound(uLong(file.contents.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                  reinterpret_cast<const Bytef*>(file.contents.data()), uLong(file.contents.size()),
                  5) != Z_OK) {
        throw std::runtime_error("zlib failed");
    }
    out.resize(length);
    out += file.trailing;
    if (file.cut_to != 0 && out.size() > file.cut_to) {
        out.resize(file.cut_to);
    }
    if (out.size() == file.contents.size()) {
        out.push_back('\0'); // equal sizes would mean "stored"
    }
    return out;
}

} // namespace

std::string build_test_archive(const TestArchive& archive) {
    TreeBuilder tree;
    for (const std::string& d : archive.dirs) {
        auto parts = components(d);
        tree.directory(parts, parts.size());
    }
    std::vector<std::string> stored;
    for (const TestArchiveFile& f : archive.files) {
        auto parts = components(f.path);
        tree.add_file(tree.directory(parts, parts.size() - 1), parts.back());
        stored.push_back(stored_bytes(f));
    }

    uint32_t dir_count = uint32_t(tree.dirs_.size());
    uint32_t file_count = uint32_t(tree.files_.size());
    std::set<std::string> names{""};
    for (const Dir& d : tree.dirs_) {
        names.insert(d.name);
    }
    for (const File& f : tree.files_) {
        names.insert(f.name);
    }
    const TestLayout& layout = archive.layout;
    // Record numbers as written: the root stays 1.
    auto dir_number = [&](uint32_t d) {
        return d <= 1 || !layout.records_reversed ? d : dir_count + 2 - d;
    };
    auto file_number = [&](uint32_t j) {
        return j == 0 || !layout.records_reversed ? j : file_count + 1 - j;
    };
    uint32_t names_start = dir_count * EPK2_DIR_RECORD_SIZE + file_count * EPK2_FILE_RECORD_SIZE;
    std::map<std::string, uint32_t> name_offset;
    std::string name_area;
    std::vector<std::string> ordered(names.begin(), names.end());
    if (layout.names_descending) {
        std::reverse(ordered.begin(), ordered.end());
    }
    for (const std::string& n : ordered) {
        name_offset[n] = names_start + uint32_t(name_area.size());
        name_area += n;
        name_area.push_back('\0');
    }
    uint32_t table_end = epk2_align(EPK2_HEADER_SIZE + names_start + uint32_t(name_area.size()));

    // Where each file's block goes, in block order.
    std::vector<uint32_t> data_offset(file_count, 0);
    uint32_t end = table_end;
    for (uint32_t k = 0; k < file_count; ++k) {
        uint32_t j = layout.blocks_reversed ? file_count - 1 - k : k;
        if (stored[j].empty()) {
            data_offset[j] = layout.empty_at_zero ? 0 : end;
            continue;
        }
        data_offset[j] = end + layout.gap;
        end = epk2_align(data_offset[j] + uint32_t(stored[j].size()));
    }

    std::string out(end, '\0');
    put_u32(out, 0, EPK2_MAGIC);
    put_u16(out, 4, EPK2_VERSION);
    put_u16(out, 6, uint16_t(layout.reserved));
    put_u32(out, 8, layout.reserved);
    put_u32(out, 12, layout.reserved);
    put_u32(out, 16, table_end);
    put_u32(out, 20, dir_count);
    put_u32(out, 24, file_count);
    put_u32(out, 28, layout.reserved);

    for (uint32_t i = 0; i < dir_count; ++i) {
        const Dir& d = tree.dirs_[i];
        uint32_t at = EPK2_HEADER_SIZE + (dir_number(i + 1) - 1) * EPK2_DIR_RECORD_SIZE;
        put_u32(out, at + 0, name_offset[d.name]);
        put_u32(out, at + 4, dir_number(d.parent));
        put_u32(out, at + 8, dir_number(d.first_child));
        put_u32(out, at + 12, file_number(d.first_file));
        put_u32(out, at + 16, dir_number(d.prev_sibling));
        put_u32(out, at + 20, dir_number(d.next_sibling));
    }
    for (uint32_t j = 0; j < file_count; ++j) {
        const File& f = tree.files_[j];
        const TestArchiveFile& source = archive.files[j];
        const uint32_t number = file_number(j + 1);
        uint32_t at = EPK2_HEADER_SIZE + dir_count * EPK2_DIR_RECORD_SIZE +
                      (number - 1) * EPK2_FILE_RECORD_SIZE;
        put_u32(out, at + 0, name_offset[f.name]);
        put_u16(out, at + 4, uint16_t(number + layout.index_bias));
        out[at + 6] = char(source.attributes);
        out[at + 7] = char(source.key);
        put_u32(out, at + 8, data_offset[j]);
        put_u32(out, at + 12, uint32_t(stored[j].size()));
        put_u32(out, at + 16, uint32_t(source.contents.size()));
        put_u32(out, at + 20, file_number(f.prev));
        put_u32(out, at + 24, file_number(f.next));
    }
    out.replace(EPK2_HEADER_SIZE + names_start, name_area.size(), name_area);
    scramble(out, EPK2_HEADER_SIZE, table_end - EPK2_HEADER_SIZE, 1);

    for (uint32_t j = 0; j < file_count; ++j) {
        out.replace(data_offset[j], stored[j].size(), stored[j]);
        if (archive.files[j].key != 0) {
            scramble(out, data_offset[j], uint32_t(stored[j].size()), archive.files[j].key);
        }
    }
    return out;
}

uint32_t test_dir_field(uint32_t dir_index, uint32_t field_offset) {
    return (dir_index - 1) * EPK2_DIR_RECORD_SIZE + field_offset;
}

uint32_t test_file_field(uint32_t dir_count, uint32_t file_index, uint32_t field_offset) {
    return dir_count * EPK2_DIR_RECORD_SIZE + (file_index - 1) * EPK2_FILE_RECORD_SIZE +
           field_offset;
}

static uint8_t table_byte(const std::string& archive, uint32_t position) {
    uint8_t b = uint8_t(archive.at(EPK2_HEADER_SIZE + position));
    return position < EPK2_SCRAMBLE_LIMIT ? uint8_t(b ^ epk2_key(1)[position % EPK2_KEY_LENGTH])
                                          : b;
}

void test_table_set_u8(std::string& archive, uint32_t position, uint8_t value) {
    uint8_t b = position < EPK2_SCRAMBLE_LIMIT
                    ? uint8_t(value ^ epk2_key(1)[position % EPK2_KEY_LENGTH])
                    : value;
    archive.at(EPK2_HEADER_SIZE + position) = char(b);
}

uint32_t test_table_get_u32(const std::string& archive, uint32_t position) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= uint32_t(table_byte(archive, position + i)) << (8 * i);
    }
    return value;
}

void test_table_set_u32(std::string& archive, uint32_t position, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        test_table_set_u8(archive, position + i, uint8_t(value >> (8 * i)));
    }
}

uint32_t test_get_u32(const std::string& bytes, uint32_t offset) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= uint32_t(uint8_t(bytes.at(offset + i))) << (8 * i);
    }
    return value;
}

void test_set_u32(std::string& bytes, uint32_t offset, uint32_t value) {
    bytes.at(offset + 3); // bounds
    put_u32(bytes, offset, value);
}

TestArchive small_test_archive() {
    TestArchive archive;
    archive.dirs = {"/sub", "/void"};
    archive.files = {
        {"/a.txt", make_bytes(300, 1), 1, true},
        {"/b.bin", make_bytes(40, 2, false), 2, false},
        {"/sub/c.txt", make_bytes(200, 3), 3, true},
    };
    return archive;
}

uint32_t test_stored_end(const std::string& archive) {
    const uint32_t dirs = test_get_u32(archive, 20);
    const uint32_t files = test_get_u32(archive, 24);
    uint32_t end = test_get_u32(archive, 16);
    for (uint32_t j = 1; j <= files; ++j) {
        const uint32_t offset = test_table_get_u32(archive, test_file_field(dirs, j, 8));
        const uint32_t stored = test_table_get_u32(archive, test_file_field(dirs, j, 12));
        end = std::max(end, offset + stored);
    }
    return end;
}
