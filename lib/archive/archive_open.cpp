// Reading an archive's header and table. Archives arrive as downloads, so the
// header is checked against the archive's real size before anything is
// allocated from its counts.
#include "archive_table.h"
#include "stream/stream.h"
#include "support/messages.h"

// Positions and sizes are 32-bit and kept below 2 GiB throughout the library.
static constexpr uint32_t ARCHIVE_SIZE_LIMIT = 0x80000000u;

bool archive_read_header(Stream* stream, uint32_t archive_size, Epk2Header* header) {
    memset(header, 0, sizeof *header);
    header->magic = stream_read_u32(stream);
    if (header->magic != EPK2_MAGIC) {
        report_reason(ERROR_REASON_NOT_ARCHIVE, "Not EPK2 format.");
        return false;
    }
    header->version = stream_read_u16(stream);
    if (header->version != EPK2_VERSION) {
        report_reason(ERROR_REASON_UNSUPPORTED, "Not support version of EPK2.");
        return false;
    }
    if (archive_size < EPK2_HEADER_SIZE) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 header is cut short (%u bytes).", archive_size);
        return false;
    }
    if (archive_size >= ARCHIVE_SIZE_LIMIT) {
        report_reason(ERROR_REASON_UNSUPPORTED, "EPK2 archive of %u bytes is too large.",
                      archive_size);
        return false;
    }
    header->reserved0 = stream_read_u16(stream);
    header->reserved1 = stream_read_u64(stream);
    header->table_end = stream_read_u32(stream);
    header->dir_count = stream_read_u32(stream);
    header->file_count = stream_read_u32(stream);
    header->reserved2 = stream_read_u32(stream);

    if (header->dir_count == 0) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 table has no root directory.");
        return false;
    }
    if (header->table_end > archive_size) {
        report_reason(ERROR_REASON_DAMAGED,
                      "EPK2 table end %u lies beyond the end of the archive (%u bytes).",
                      header->table_end, archive_size);
        return false;
    }
    // 64-bit so that hostile counts cannot wrap to a small product.
    uint64_t records = uint64_t(EPK2_HEADER_SIZE) +
                       uint64_t(header->dir_count) * EPK2_DIR_RECORD_SIZE +
                       uint64_t(header->file_count) * EPK2_FILE_RECORD_SIZE;
    if (records > header->table_end) {
        report_reason(ERROR_REASON_DAMAGED,
                      "EPK2 table end %u cannot hold %u directories and %u files.",
                      header->table_end, header->dir_count, header->file_count);
        return false;
    }
    return true;
}

bool archive_read_table(Stream* stream, const Epk2Header* header, unsigned char* table,
                        Allocator* allocator) {
    uint32_t size = header->table_end - EPK2_HEADER_SIZE;
    Stream* range = stream_open_range(stream, STREAM_BORROWS, EPK2_HEADER_SIZE, size,
                                      STREAM_OPEN_READ, allocator);
    if (!range) {
        report_reason(ERROR_REASON_OUT_OF_MEMORY, "Out of memory reading the EPK2 table.");
        return false;
    }
    Stream* chain =
        stream_open_scramble(range, epk2_key(1), EPK2_KEY_LENGTH, EPK2_SCRAMBLE_LIMIT, allocator);
    if (!chain) {
        stream_close(range);
        report_reason(ERROR_REASON_OUT_OF_MEMORY, "Out of memory reading the EPK2 table.");
        return false;
    }
    uint32_t count = stream_read(chain, table, size);
    stream_close(chain); // the range leaves the archive stream open
    if (count != size) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 table is cut short (%u of %u bytes).", count,
                      size);
        return false;
    }
    return true;
}
