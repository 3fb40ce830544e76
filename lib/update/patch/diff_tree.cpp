#include "update/patch/diff_tree.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

#include "archive/archive_builder.h"
#include "archive/entry_read.h"
#include "archive/epk2_format.h"
#include "archive/epk2_scramble.h"
#include "fs/sorted_folder.h"
#include "platform/platform.h"
#include "stream/stream.h"
#include "stream/stream_ptr.h"
#include "support/text_count.h"

namespace {

// Each side is read in pieces of this size: two per comparer.
constexpr uint32_t COMPARE_BUFFER = 512 * 1024;
// Reading from the page cache and comparing gains little beyond this.
constexpr unsigned COMPARE_THREADS_MAX = 4;

void add_entry_to(Tree& tree, TreeEntry entry) {
    if (builder_leaves_out(entry.path.c_str())) {
        return;
    }
    auto& index = entry.directory ? tree.folders : tree.files;
    if (index.count(entry.path)) {
        return; // the first of equal names is the one a lookup finds
    }
    index.emplace(entry.path, tree.entries.size());
    if (!entry.directory) {
        tree.file_bytes += entry.size;
    }
    tree.entries.push_back(std::move(entry));
}

int collect_walked(void* context, FileSystem*, DirEntry* walked) {
    TreeEntry entry;
    entry.path = walked->name;
    entry.directory = (walked->attributes & DIRENTRY_DIRECTORY) != 0;
    entry.size = entry.directory ? 0 : walked->size;
    add_entry_to(*static_cast<Tree*>(context), std::move(entry));
    return 1;
}

void collect_record(void* context, const DirEntry* walked, const ArchiveEntryInfo* info) {
    TreeEntry entry;
    entry.path = walked->name;
    entry.directory = info == nullptr;
    entry.size = info ? info->size : 0;
    entry.has_record = info != nullptr;
    if (info) {
        entry.record = *info;
    }
    static_cast<std::vector<TreeEntry>*>(context)->push_back(std::move(entry));
}

uint32_t read_full(Stream* stream, unsigned char* buffer, uint32_t count) {
    uint32_t total = 0;
    while (total < count) {
        uint32_t n = stream_read(stream, buffer + total, count - total);
        if (n == 0) {
            break;
        }
        total += n;
    }
    return total;
}

bool compressed(const TreeEntry& entry) {
    return entry.has_record && entry.record.stored_size != entry.record.size;
}

} // namespace

Stream* open_file_content(const FileRef& ref) {
    const TreeEntry& entry = *ref.entry;
    if (entry.content) {
        return stream_open_memory(const_cast<char*>(entry.content->data()),
                                  static_cast<uint32_t>(entry.content->size()), STREAM_OPEN_READ, 0,
                                  nullptr);
    }
    if (entry.has_record) {
        return archive_open_entry_at(ref.fs, &entry.record, nullptr);
    }
    return fs_open(ref.fs, entry.path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr);
}

const TreeEntry* Tree::file(const std::string& path) const {
    auto found = files.find(path);
    return found == files.end() ? nullptr : &entries[found->second];
}

void tree_put_file(Tree& tree, TreeEntry entry) {
    auto found = tree.files.find(entry.path);
    if (found == tree.files.end()) {
        add_entry_to(tree, std::move(entry));
        return;
    }
    TreeEntry& kept = tree.entries[found->second];
    tree.file_bytes = tree.file_bytes - kept.size + entry.size;
    kept = std::move(entry);
}

bool walk_order(const std::string& a, const std::string& b) {
    // "/" sorts below every byte of a name, so "/a/b" (inside "a") comes
    // before "/a.b", as a folder walk that takes names in byte order has it.
    auto key = [](char c) { return c == '/' ? 0 : static_cast<unsigned char>(c); };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return key(x) < key(y); });
}

void tree_list_archive(Tree& tree) {
    tree.is_archive = true;
    // An archive's own order is its writer's. Taken in the order a folder of
    // the same tree is walked, the patch comes out byte for byte the same
    // whichever form a side was given in; of equal paths the archive's first
    // stays first.
    std::vector<TreeEntry> listed;
    archive_enumerate_records(tree.fs.get(), "/", 1, &listed, collect_record);
    std::stable_sort(listed.begin(), listed.end(), [](const TreeEntry& a, const TreeEntry& b) {
        return walk_order(a.path, b.path);
    });
    for (TreeEntry& entry : listed) {
        add_entry_to(tree, std::move(entry));
    }
}

DiffStatus tree_open_folder(Tree& tree, const std::string& folder,
                            const std::vector<std::string>& leave_out, bool unrepresentable_fail,
                            const DiffReporter& reporter) {
    tree.is_archive = false;
    std::string error;
    FolderWalkReport report;
    report.shown = reporter.shown;
    tree.fs.reset(sorted_folder_open(folder, leave_out, error, report));
    const std::string& display = tree.display;
    if (!tree.fs) {
        reporter.error(display + ": " + error);
        return DIFF_FAILED;
    }
    for (const std::string& name : report.unrepresentable) {
        const std::string text =
            display + name + ": the name has no Shift_JIS (code page 932) form";
        if (unrepresentable_fail) {
            reporter.error(text);
        } else {
            reporter.warning("left out " + text);
        }
    }
    if (unrepresentable_fail && !report.unrepresentable.empty()) {
        reporter.error(display + ": " +
                       text_count_of(report.unrepresentable.size(), "name", "names") +
                       " cannot go into an archive; rename them");
        return DIFF_FAILED;
    }
    for (const std::string& name : report.special) {
        reporter.warning(display + reporter.show(name) +
                         " left out: not a regular file (a FIFO, socket or device)");
    }
    fs_enumerate(tree.fs.get(), "/", 1, &tree, collect_walked);
    return DIFF_OK;
}

FileComparer::FileComparer() : first_buffer_(COMPARE_BUFFER), second_buffer_(COMPARE_BUFFER) {}

// True when the stored bytes decided the comparison (same set); false when
// the contents must be compared.
bool FileComparer::stored_alike(const FileRef& first, const FileRef& second, bool& same) {
    const TreeEntry& a = *first.entry;
    const TreeEntry& b = *second.entry;
    if (!a.has_record || !b.has_record || a.content || b.content ||
        a.record.stored_size != b.record.stored_size) {
        return false;
    }
    StreamPtr a_stored(archive_open_stored_at(first.fs, &a.record, nullptr));
    StreamPtr b_stored(archive_open_stored_at(second.fs, &b.record, nullptr));
    if (!a_stored || !b_stored) {
        return false; // the content comparison says what is wrong
    }
    for (uint32_t position = 0; position < a.record.stored_size;) {
        uint32_t n = std::min(COMPARE_BUFFER, a.record.stored_size - position);
        if (read_full(a_stored.get(), first_buffer_.data(), n) != n ||
            read_full(b_stored.get(), second_buffer_.data(), n) != n) {
            return false;
        }
        if (position < EPK2_SCRAMBLE_LIMIT) {
            epk2_scramble(first_buffer_.data(), n, position, a.record.key);
            epk2_scramble(second_buffer_.data(), n, position, b.record.key);
        }
        if (std::memcmp(first_buffer_.data(), second_buffer_.data(), n) != 0) {
            // Stored bytes of an uncompressed entry are its content; two
            // deflated forms may still inflate alike.
            same = false;
            return !compressed(a);
        }
        position += n;
    }
    same = true;
    return true;
}

Comparison FileComparer::compare(const FileRef& first, const FileRef& second) {
    Comparison result;
    const TreeEntry& a = *first.entry;
    const TreeEntry& b = *second.entry;
    if (a.size != b.size) {
        return result;
    }
    if (a.size == 0) {
        result.same = true;
        return result;
    }
    if (stored_alike(first, second, result.same)) {
        return result;
    }
    StreamPtr a_content(open_file_content(first));
    StreamPtr b_content(open_file_content(second));
    if (!a_content) {
        result.first_problem = "cannot be opened";
        return result;
    }
    bool differ = false;
    bool first_short = false;
    EntryReadResult b_read = entry_read_stream(
        b_content.get(), b.size, compressed(b),
        [&](const unsigned char* data, uint32_t n) {
            if (read_full(a_content.get(), first_buffer_.data(), n) != n) {
                first_short = true;
                return false;
            }
            differ = std::memcmp(first_buffer_.data(), data, n) != 0;
            return !differ;
        },
        second_buffer_.data(), COMPARE_BUFFER);
    if (differ) {
        return result;
    }
    if (first_short) {
        result.first_problem = "wrong length: fewer than " + std::to_string(a.size) + " bytes" +
                               (compressed(a) ? " (broken zlib data)" : "");
        return result;
    }
    if (!b_read.whole()) {
        result.second_problem = b_read.problem.empty() ? "cannot be read" : b_read.problem;
        return result;
    }
    // The first side gave as many bytes as the second; it must end there,
    // and where deflated end with a good checksum.
    EntryReadResult rest = entry_read_stream(a_content.get(), 0, compressed(a), nullptr,
                                             first_buffer_.data(), COMPARE_BUFFER);
    if (rest.delivered > 0) {
        result.first_problem = "wrong length: more than " + std::to_string(a.size) + " bytes";
    } else if (!rest.problem.empty()) {
        result.first_problem = rest.problem;
    }
    result.same = result.first_problem.empty();
    return result;
}

void compare_in_parallel(size_t count, const std::function<void(size_t, FileComparer&)>& job,
                         const std::function<uint64_t(size_t)>& bytes_of,
                         UpdateProgressStage& bar) {
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<uint64_t> bytes{0};
    auto work = [&](FileComparer& comparer, bool report) {
        for (size_t i = next++; i < count; i = next++) {
            job(i, comparer);
            bytes += bytes_of(i);
            ++done;
            if (report) {
                bar.advance(done, bytes);
            }
        }
    };
    unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, COMPARE_THREADS_MAX);
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && t < count; ++t) {
        try {
            helpers.emplace_back([&work] {
                FileComparer comparer;
                work(comparer, false);
            });
        } catch (const std::system_error&) {
            break; // fewer helpers; this thread does the rest
        }
    }
    FileComparer comparer;
    work(comparer, true);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    bar.advance(done, bytes);
}
