#include "commands/verify_reads.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "cli/cli.h"

namespace {

// Beyond this the threads mostly wait for the disk.
constexpr unsigned READ_THREADS_MAX = 8;
// Each thread's read buffer: large enough for few calls per entry, small
// enough that eight of them stay well inside the memory goal.
constexpr uint32_t READ_BUFFER = 256 * 1024;

} // namespace

std::vector<EntryReadResult> read_entries_in_parallel(FileSystem* fs,
                                                      const std::vector<ListedEntry>& entries,
                                                      unsigned threads, ProgressBar& progress) {
    std::vector<EntryReadResult> results(entries.size());
    // One capture for every thread: its hook takes a lock, while a capture
    // per read would swap the process-wide hook under the other threads.
    MessageCapture quiet; // a missing archive file is reported by the caller
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> files_done{0};
    std::atomic<uint64_t> bytes_done{0};
    auto work = [&](bool report) {
        std::vector<unsigned char> buffer(READ_BUFFER);
        for (size_t i = next++; i < entries.size(); i = next++) {
            const ListedEntry& entry = entries[i];
            if (entry.directory) {
                continue;
            }
            results[i] = archive_read_entry(fs, entry.info, nullptr, buffer.data(), READ_BUFFER);
            bytes_done += entry.size;
            ++files_done;
            if (report) {
                progress.advance(files_done, bytes_done);
            }
        }
    };
    if (threads == 0) {
        threads = std::clamp(std::thread::hardware_concurrency(), 1u, READ_THREADS_MAX);
    }
    if (!archive_shared_file(fs)) {
        threads = 1; // only an archive file is read by position, safe from several threads
    }
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && t < entries.size(); ++t) {
        try {
            helpers.emplace_back(work, false);
        } catch (const std::system_error&) {
            break; // fewer helpers; this thread does the rest
        }
    }
    work(true);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    progress.advance(files_done, bytes_done);
    return results;
}
