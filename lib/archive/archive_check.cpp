// Compares an opened archive with what readers rely on (INVALID) and with
// the layout ArchiveBuilder writes (NOTE):
// builder_pack.cpp lays out the header, the records, the names and the data
// blocks, builder_tree.cpp numbers and links the records as it creates them.
// The table copy has passed archive_table_validate, so every link stays
// inside the counts and every name reached from the root reads; the walks
// here still guard themselves, as they also look at records the tree does
// not reach. Memory stays in proportion to the record count.
#include "archive/archive_check.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "archive/archive_fs.h"
#include "archive/epk2_format.h"
#include "archive_table.h"
#include "fs/filesystem.h"
#include "platform/platform.h"
#include "stream/file_handles.h"
#include "stream/stream.h"

namespace {

constexpr uint32_t UNREACHED = 0xFFFFFFFFu;
// Names quoted in a reason are cut after this many bytes.
constexpr size_t QUOTE_LIMIT = 64;

std::string number(uint64_t value) {
    return std::to_string(value);
}

std::string hex_byte(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

uint64_t align(uint64_t value) {
    return (value + (EPK2_ALIGNMENT - 1)) & ~uint64_t(EPK2_ALIGNMENT - 1);
}

std::string quote(const unsigned char* name, size_t length) {
    std::string text = "\"";
    text.append(reinterpret_cast<const char*>(name), std::min(length, QUOTE_LIMIT));
    if (length > QUOTE_LIMIT) {
        text += "...";
    }
    return text + "\"";
}

// Byte order, as std::map<std::string, ...> in the builder sorts its names.
int compare_names(const unsigned char* a, uint32_t a_length, const unsigned char* b,
                  uint32_t b_length) {
    int order = memcmp(a, b, std::min(a_length, b_length));
    if (order != 0) {
        return order;
    }
    return a_length < b_length ? -1 : a_length > b_length ? 1 : 0;
}

// The archive's bytes outside the table copy: the header and the padding
// between data blocks.
class RawBytes {
  public:
    RawBytes(FileSystem* fs, const void* bytes, uint32_t size, uint32_t archive_size)
        : archive_size_(archive_size) {
        if (bytes && size == archive_size) {
            memory_ = static_cast<const unsigned char*>(bytes);
        } else if (SharedFile* file = archive_shared_file(fs)) {
            file_ = file;
        } else if (fs->header.parent) {
            // An archive inside another file system is read from it by name,
            // as its entries are.
            stream_ =
                fs_open(fs->header.parent, fs->header.root_path, 0, 0, STREAM_OPEN_READ, nullptr);
        }
    }
    ~RawBytes() {
        if (stream_) {
            stream_close(stream_);
        }
    }
    RawBytes(const RawBytes&) = delete;
    RawBytes& operator=(const RawBytes&) = delete;

    bool available() const { return memory_ || file_ || stream_; }

    // False when the bytes are not all there.
    bool read(uint32_t position, unsigned char* out, uint32_t count) {
        if (uint64_t(position) + count > archive_size_) {
            return false;
        }
        if (memory_) {
            memcpy(out, memory_ + position, count);
            return true;
        }
        if (file_) {
            return platform_file_read_at(shared_file_handle(file_), position, out, count) == count;
        }
        return stream_ && stream_seek(stream_, int32_t(position), STREAM_SEEK_BEGIN) == position &&
               stream_read(stream_, out, count) == count;
    }

  private:
    uint32_t archive_size_;
    const unsigned char* memory_ = nullptr;
    SharedFile* file_ = nullptr;
    Stream* stream_ = nullptr;
};

enum class Kind { Directory, File };

// One member of a folder's chain, for the check of equal names.
struct Member {
    uint32_t record;
    uint32_t position; // in the chain
    const unsigned char* name;
    uint32_t length;
};

class Checker {
  public:
    Checker(const ArchiveTable* table, uint32_t archive_size, RawBytes& raw, void* context,
            ArchiveFindingCallback callback, uint32_t& count)
        : table_(table), bytes_(table->bytes), size_(table->size), archive_size_(archive_size),
          raw_(raw), context_(context), callback_(callback), count_(count) {
        // At most size_: opening checked that the table holds the records.
        names_start_ =
            table->dir_count * EPK2_DIR_RECORD_SIZE + table->file_count * EPK2_FILE_RECORD_SIZE;
    }

    void run() {
        find_names_end();
        check_header();
        walk();
        check_unreached();
        for (uint32_t d = 1; d <= table_->dir_count; ++d) {
            check_name(Kind::Directory, d, archive_dir(table_, d).name_offset);
        }
        check_files();
        check_name_area();
    }

  private:
    void report(ArchiveVerdict verdict, const std::string& where, const std::string& reason) {
        ++count_;
        if (callback_) {
            callback_(context_, verdict, where.c_str(), reason.c_str());
        }
    }

    // The name at offset when it is NUL-terminated inside the table.
    bool name_at(uint32_t offset, const unsigned char** name, uint32_t* length) const {
        if (offset >= size_) {
            return false;
        }
        const void* end = memchr(bytes_ + offset, 0, size_ - offset);
        if (!end) {
            return false;
        }
        *name = bytes_ + offset;
        *length = uint32_t(static_cast<const unsigned char*>(end) - *name);
        return true;
    }

    uint32_t name_offset(Kind kind, uint32_t index) const {
        return kind == Kind::Directory ? archive_dir(table_, index).name_offset
                                       : archive_file(table_, index).name_offset;
    }

    // Path of a reached folder below the root, or empty when a name on the
    // way does not read.
    std::string folder_path(uint32_t dir) const {
        std::vector<uint32_t> chain;
        for (uint32_t d = dir; d > 1 && d <= table_->dir_count && chain.size() < table_->dir_count;
             d = dir_parent_[d]) {
            chain.push_back(d);
        }
        std::string path;
        for (auto d = chain.rbegin(); d != chain.rend(); ++d) {
            const unsigned char* name;
            uint32_t length;
            if (!name_at(name_offset(Kind::Directory, *d), &name, &length)) {
                return {};
            }
            path += '/';
            path.append(reinterpret_cast<const char*>(name), length);
        }
        return path;
    }

    // The record's path when the tree reaches it, else its kind and number.
    std::string where(Kind kind, uint32_t index) const {
        const bool directory = kind == Kind::Directory;
        const std::string fallback =
            (directory ? "directory record " : "file record ") + number(index);
        if (directory && index == 1) {
            return "/";
        }
        uint32_t parent = directory ? dir_parent_[index] : file_parent_[index];
        if (parent == UNREACHED) {
            return fallback;
        }
        std::string path = folder_path(directory ? index : parent);
        if (!directory) {
            const unsigned char* name;
            uint32_t length;
            if ((parent > 1 && path.empty()) ||
                !name_at(name_offset(Kind::File, index), &name, &length)) {
                return fallback;
            }
            path += '/';
            path.append(reinterpret_cast<const char*>(name), length);
        }
        // A top-level record without a name would pass for the root.
        return path.empty() || path == "/" ? fallback : path;
    }

    // The name area: from the end of the file records through the root's
    // empty name and the names after it up to the first empty string, where
    // the padding begins; or to the table's end when a name runs into it.
    template <typename Visit>
    void for_each_stored_name(Visit visit) const {
        uint32_t position = names_start_;
        bool first = true;
        while (position < size_) {
            const void* end = memchr(bytes_ + position, 0, size_ - position);
            uint32_t length =
                end ? uint32_t(static_cast<const unsigned char*>(end) - (bytes_ + position))
                    : size_ - position;
            if (end && length == 0 && !first) {
                return;
            }
            visit(position, length, end != nullptr);
            if (!end) {
                return;
            }
            first = false;
            position += length + 1;
        }
    }

    void find_names_end() {
        names_end_ = names_start_;
        for_each_stored_name([this](uint32_t position, uint32_t length, bool terminated) {
            names_end_ = position + length + (terminated ? 1 : 0);
        });
    }

    void check_header() {
        const uint32_t dir_count = table_->dir_count;
        const uint32_t file_count = table_->file_count;
        const uint64_t table_end = uint64_t(EPK2_HEADER_SIZE) + size_;
        if (file_count > EPK2_MAX_FILES) {
            report(ARCHIVE_INVALID, "header",
                   number(file_count) + " files, more than a 16-bit file index numbers");
        }
        if (table_end % EPK2_ALIGNMENT != 0) {
            report(ARCHIVE_NOTE, "header",
                   "table end " + number(table_end) + " is not a multiple of 32");
        } else if (table_end != align(EPK2_HEADER_SIZE + uint64_t(names_end_))) {
            report(ARCHIVE_NOTE, "header",
                   "table end " + number(table_end) +
                       ", but the records, names and padding end at " +
                       number(align(EPK2_HEADER_SIZE + uint64_t(names_end_))));
        }
        if (!raw_.available()) {
            return;
        }
        unsigned char header[EPK2_HEADER_SIZE];
        if (!raw_.read(0, header, sizeof header)) {
            report(ARCHIVE_INVALID, "header", "cannot be read again from the archive");
            return;
        }
        Epk2Header fields;
        memcpy(&fields, header, sizeof fields);
        if (fields.version != EPK2_VERSION) {
            report(ARCHIVE_INVALID, "header",
                   "version " + number(fields.version) + ", not " + number(EPK2_VERSION));
        }
        if (fields.reserved0 != 0) {
            report(ARCHIVE_NOTE, "header", "reserved half-word at offset 6 is not zero");
        }
        if (fields.reserved1 != 0) {
            report(ARCHIVE_NOTE, "header", "reserved words at offset 8 are not zero");
        }
        if (fields.reserved2 != 0) {
            report(ARCHIVE_NOTE, "header", "reserved word at offset 28 is not zero");
        }
        if (fields.table_end != table_end || fields.dir_count != dir_count ||
            fields.file_count != file_count) {
            report(ARCHIVE_INVALID, "header",
                   "differs from the one read when the archive was opened");
        }
    }

    // Reports members of one folder's chain that share a name with an
    // earlier one.
    void check_equal_names(std::vector<Member>& members, Kind kind) {
        std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) {
            int order = compare_names(a.name, a.length, b.name, b.length);
            return order != 0 ? order < 0 : a.position < b.position;
        });
        const char* what = kind == Kind::Directory ? "subfolder" : "file";
        for (size_t i = 1; i < members.size(); ++i) {
            const Member& first = members[i - 1];
            const Member& second = members[i];
            if (compare_names(first.name, first.length, second.name, second.length) == 0) {
                report(ARCHIVE_NOTE, where(kind, second.record),
                       std::string("a second ") + what + " of this name in its folder (" +
                           (kind == Kind::Directory ? "directory" : "file") + " record " +
                           number(second.record) + "; the first is record " + number(first.record) +
                           ")");
            }
        }
        members.clear();
    }

    void add_member(std::vector<Member>& members, Kind kind, uint32_t record) {
        Member member{record, uint32_t(members.size()), nullptr, 0};
        if (name_at(name_offset(kind, record), &member.name, &member.length)) {
            members.push_back(member);
        }
    }

    void walk_subfolders(uint32_t folder, std::vector<uint32_t>& stack,
                         std::vector<Member>& members) {
        const uint32_t dir_count = table_->dir_count;
        uint32_t before = 0;
        for (uint32_t c = archive_dir(table_, folder).first_child; c != 0;) {
            if (c > dir_count) {
                report(ARCHIVE_INVALID, where(Kind::Directory, folder),
                       "links to directory record " + number(c) + " beyond the table");
                break;
            }
            if (dir_parent_[c] != UNREACHED) {
                report(ARCHIVE_INVALID, where(Kind::Directory, c),
                       "linked into the tree a second time");
                break;
            }
            dir_parent_[c] = folder;
            stack.push_back(c);
            const Epk2DirRecord child = archive_dir(table_, c);
            auto at = [this, c] { return where(Kind::Directory, c); };
            if (child.parent != folder) {
                report(ARCHIVE_NOTE, at(),
                       "parent link names directory record " + number(child.parent) + ", not " +
                           number(folder) + ", the folder that holds it");
            }
            if (before == 0 && child.prev_sibling != 0) {
                report(ARCHIVE_NOTE, at(),
                       "first subfolder of its folder, yet its previous-sibling link names "
                       "directory record " +
                           number(child.prev_sibling));
            } else if (before != 0 && child.prev_sibling != before) {
                report(ARCHIVE_NOTE, at(),
                       "previous-sibling link names directory record " +
                           number(child.prev_sibling) + ", not " + number(before) +
                           ", the subfolder before it");
            }
            if (c < folder) {
                report(ARCHIVE_NOTE, at(),
                       "numbered before its parent folder (directory record " + number(folder) +
                           ")");
            }
            if (before != 0 && c < before) {
                report(ARCHIVE_NOTE, at(),
                       "numbered before the subfolder before it (directory record " +
                           number(before) + ")");
            }
            add_member(members, Kind::Directory, c);
            before = c;
            c = child.next_sibling;
        }
        check_equal_names(members, Kind::Directory);
    }

    void walk_files(uint32_t folder, std::vector<Member>& members) {
        const uint32_t file_count = table_->file_count;
        uint32_t before = 0;
        for (uint32_t f = archive_dir(table_, folder).first_file; f != 0;) {
            if (f > file_count) {
                report(ARCHIVE_INVALID, where(Kind::Directory, folder),
                       "links to file record " + number(f) + " beyond the table");
                break;
            }
            if (file_parent_[f] != UNREACHED) {
                report(ARCHIVE_INVALID, where(Kind::File, f), "linked into the tree a second time");
                break;
            }
            file_parent_[f] = folder;
            const Epk2FileRecord file = archive_file(table_, f);
            if (before == 0 && file.prev_file != 0) {
                report(ARCHIVE_NOTE, where(Kind::File, f),
                       "first file of its folder, yet its previous-file link names file record " +
                           number(file.prev_file));
            } else if (before != 0 && file.prev_file != before) {
                report(ARCHIVE_NOTE, where(Kind::File, f),
                       "previous-file link names file record " + number(file.prev_file) + ", not " +
                           number(before) + ", the file before it");
            }
            if (before != 0 && f < before) {
                report(ARCHIVE_NOTE, where(Kind::File, f),
                       "numbered before the file before it (file record " + number(before) + ")");
            }
            add_member(members, Kind::File, f);
            before = f;
            f = file.next_file;
        }
        check_equal_names(members, Kind::File);
    }

    void walk() {
        dir_parent_.assign(size_t(table_->dir_count) + 1, UNREACHED);
        file_parent_.assign(size_t(table_->file_count) + 1, UNREACHED);
        dir_parent_[1] = 0;
        const Epk2DirRecord root = archive_dir(table_, 1);
        if (root.parent != 0) {
            report(ARCHIVE_NOTE, "/",
                   "the root links to parent directory record " + number(root.parent));
        }
        if (root.prev_sibling != 0 || root.next_sibling != 0) {
            report(ARCHIVE_NOTE, "/", "the root has sibling links");
        }
        std::vector<uint32_t> stack{1};
        std::vector<Member> members;
        while (!stack.empty()) {
            uint32_t folder = stack.back();
            stack.pop_back();
            walk_subfolders(folder, stack, members);
            walk_files(folder, members);
        }
    }

    void check_unreached() {
        for (uint32_t d = 2; d <= table_->dir_count; ++d) {
            if (dir_parent_[d] == UNREACHED) {
                report(ARCHIVE_NOTE, where(Kind::Directory, d), "not reachable from the root");
            }
        }
        for (uint32_t f = 1; f <= table_->file_count; ++f) {
            if (file_parent_[f] == UNREACHED) {
                report(ARCHIVE_NOTE, where(Kind::File, f), "not reachable from the root");
            }
        }
    }

    void check_name(Kind kind, uint32_t index, uint32_t offset) {
        if (offset < names_start_) {
            report(ARCHIVE_NOTE, where(kind, index),
                   "name lies outside the name area, in the record table");
            return;
        }
        if (offset >= names_end_) {
            report(ARCHIVE_NOTE, where(kind, index),
                   "name lies outside the name area, past the names");
            return;
        }
        if (offset != names_start_ && bytes_[offset - 1] != 0) {
            report(ARCHIVE_NOTE, where(kind, index),
                   "name starts inside another name of the name area");
            return;
        }
        const unsigned char* name;
        uint32_t length;
        if (!name_at(offset, &name, &length)) {
            report(ARCHIVE_INVALID, where(kind, index),
                   "name is not NUL-terminated inside the name area");
            return;
        }
        used_.push_back(offset);
        const bool root = kind == Kind::Directory && index == 1;
        if (root && length != 0) {
            report(ARCHIVE_NOTE, "/", "the root's name is " + quote(name, length) + ", not empty");
        } else if (!root && length == 0) {
            report(ARCHIVE_NOTE, where(kind, index),
                   "name is empty: no path finds this record, and a merge leaves it out");
        } else if (!root && memchr(name, '/', length)) {
            report(ARCHIVE_INVALID, where(kind, index), "name contains \"/\"");
        }
    }

    // Zeros from a data block's end to the next 32-byte boundary (or the
    // archive's end, which check_files judges).
    void check_padding(uint32_t file, uint64_t end) {
        uint64_t stop = std::min<uint64_t>(align(end), archive_size_);
        if (!raw_.available() || stop <= end) {
            return;
        }
        unsigned char padding[EPK2_ALIGNMENT];
        uint32_t count = uint32_t(stop - end);
        if (!raw_.read(uint32_t(end), padding, count)) {
            report(ARCHIVE_INVALID, where(Kind::File, file),
                   "the padding after the data block cannot be read");
        } else if (std::any_of(padding, padding + count, [](unsigned char b) { return b != 0; })) {
            report(ARCHIVE_NOTE, where(Kind::File, file),
                   "padding after the data block is not zero");
        }
    }

    void check_files() {
        uint64_t expected = uint64_t(EPK2_HEADER_SIZE) + size_;
        bool after_block = false;
        for (uint32_t f = 1; f <= table_->file_count; ++f) {
            const Epk2FileRecord record = archive_file(table_, f);
            check_name(Kind::File, f, record.name_offset);
            if (f <= EPK2_MAX_FILES && record.index != f) {
                report(ARCHIVE_NOTE, where(Kind::File, f),
                       "index field is " + number(record.index) + ", not the record number " +
                           number(f));
            }
            if (record.attributes != 0) {
                report(ARCHIVE_NOTE, where(Kind::File, f),
                       "attribute byte is " + hex_byte(record.attributes) + ", not 0");
            }
            const uint32_t key = (f - 1) % EPK2_KEY_COUNT + 1;
            if (record.key > EPK2_KEY_COUNT) {
                report(ARCHIVE_INVALID, where(Kind::File, f),
                       "key " + number(record.key) + " is none of the four keys");
            } else if (record.key != key) {
                report(ARCHIVE_NOTE, where(Kind::File, f),
                       "key " + number(record.key) + ", not key " + number(key) +
                           " of the rotation over the files");
            }
            if (record.data_offset != expected) {
                report(ARCHIVE_NOTE, where(Kind::File, f),
                       "data block starts at " + number(record.data_offset) + ", not at " +
                           number(expected) + " right after " +
                           (after_block ? "the previous data block" : "the table"));
            }
            // An empty block takes no room: the next one starts where it does.
            if (record.stored_size != 0) {
                uint64_t end = uint64_t(record.data_offset) + record.stored_size;
                check_padding(f, end);
                expected = align(end);
                after_block = true;
            }
        }
        if (archive_size_ > expected) {
            report(ARCHIVE_NOTE, "data area",
                   number(archive_size_ - expected) + " bytes follow the " +
                       (after_block ? "last data block" : "table"));
        } else if (archive_size_ < expected) {
            report(ARCHIVE_NOTE, "data area",
                   "the archive ends inside the padding of the last data block");
        }
    }

    void check_name_area() {
        std::sort(used_.begin(), used_.end());
        size_t next_used = 0;
        const unsigned char* previous = nullptr;
        uint32_t previous_length = 0;
        for_each_stored_name([&](uint32_t position, uint32_t length, bool terminated) {
            const unsigned char* name = bytes_ + position;
            if (!terminated) {
                report(ARCHIVE_NOTE, "name area",
                       quote(name, length) + " runs to the table end without a NUL");
            }
            int order = previous ? compare_names(previous, previous_length, name, length) : -1;
            while (next_used < used_.size() && used_[next_used] < position) {
                ++next_used;
            }
            if (order == 0) {
                report(ARCHIVE_NOTE, "name area", quote(name, length) + " is stored twice");
            } else if (order > 0) {
                report(ARCHIVE_NOTE, "name area",
                       quote(name, length) + " comes after " + quote(previous, previous_length) +
                           ", out of byte order");
            }
            if (order != 0 && (next_used == used_.size() || used_[next_used] != position)) {
                report(ARCHIVE_NOTE, "name area",
                       quote(name, length) + " is the name of no record");
            }
            previous = name;
            previous_length = length;
        });
        if (std::any_of(bytes_ + names_end_, bytes_ + size_, [](unsigned char b) { return b; })) {
            report(ARCHIVE_NOTE, "name area", "padding after the names is not zero");
        }
    }

    const ArchiveTable* table_;
    const unsigned char* bytes_;
    uint32_t size_;
    uint32_t archive_size_;
    RawBytes& raw_;
    void* context_;
    ArchiveFindingCallback callback_;

    uint32_t names_start_ = 0;
    uint32_t names_end_ = 0;
    // The folder whose chain holds each record (0 for the root), UNREACHED
    // for records the walk from the root does not meet.
    std::vector<uint32_t> dir_parent_;
    std::vector<uint32_t> file_parent_;
    // Name offsets of the records whose names start a stored name.
    std::vector<uint32_t> used_;
    uint32_t& count_;
};

} // namespace

const char* archive_verdict_name(ArchiveVerdict verdict) {
    return verdict == ARCHIVE_NOTE ? "NOTE" : "INVALID";
}

uint32_t archive_check(FileSystem* fs, const void* bytes, uint32_t size, void* context,
                       ArchiveFindingCallback callback) {
    uint32_t archive_size = 0;
    const ArchiveTable* table = archive_fs_table(fs, &archive_size);
    if (!table) {
        if (callback) {
            callback(context, ARCHIVE_INVALID, "archive", "not an opened EPK2 archive");
        }
        return 1;
    }
    uint32_t count = 0;
    try {
        RawBytes raw(fs, bytes, size, archive_size);
        Checker(table, archive_size, raw, context, callback, count).run();
    } catch (const std::bad_alloc&) {
        ++count;
        if (callback) {
            callback(context, ARCHIVE_INVALID, "archive", "out of memory checking the archive");
        }
    }
    return count;
}
