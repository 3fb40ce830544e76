#include "platform/file_copy_block.h"

#include <memory>
#include <new>

uint32_t platform_file_copy_through_block(PlatformFile from, uint32_t from_position,
                                          PlatformFile to, uint32_t to_position, uint32_t count) {
    constexpr uint32_t BLOCK_SIZE = 1024 * 1024;
    thread_local std::unique_ptr<char[]> block;
    if (count && !block) {
        block.reset(new (std::nothrow) char[BLOCK_SIZE]);
    }
    if (!block) {
        return 0;
    }
    uint32_t done = 0;
    while (done < count) {
        uint32_t want = count - done < BLOCK_SIZE ? count - done : BLOCK_SIZE;
        uint32_t n = platform_file_read_at(from, from_position + done, block.get(), want);
        uint32_t written = n ? platform_file_write_at(to, to_position + done, block.get(), n) : 0;
        done += written;
        if (n < want || written < n) {
            break;
        }
    }
    return done;
}
