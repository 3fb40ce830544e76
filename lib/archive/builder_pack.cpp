// The archive's byte layout: header, table placeholder, names, data blocks in
// file order with keys 1-4 in rotation, then the header's table fields and
// the scrambled table written again over the placeholder.
#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "archive/epk2_format.h"
#include "builder_internal.h"
#include "builder_pipeline.h"
#include "builder_tree.h"
#include "fs/filesystem.h"
#include "platform/platform.h"
#include "stream/file_handles.h"
#include "stream/stream.h"

namespace {

void put_u16(std::vector<unsigned char>& out, uint16_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void put_u32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

void pad_to_alignment(std::vector<unsigned char>& out, uint32_t base) {
    while ((base + out.size()) % EPK2_ALIGNMENT != 0) {
        out.push_back(0);
    }
}

uint32_t index_of(const BuilderDirectory* directory) {
    return directory ? directory->index : 0;
}
uint32_t index_of(const BuilderFile* file) {
    return file ? file->index : 0;
}

} // namespace

// One pack: owns nothing but the output stream's position bookkeeping.
struct PackRun {
    ArchiveBuilder& builder;
    BuilderTree& tree;
    Stream* output;
    void* context;
    ProgressCallback callback;
    std::string& error;

    // Every distinct name once, in byte order, with its offset in the block.
    struct NameBlockEntry {
        const char* name;
        uint32_t offset;
    };
    std::vector<NameBlockEntry> names;

    // Sorts the names of every folder and file and gives each node the
    // offset of its name (from the table's start, the first one's given);
    // equal names share one.
    void lay_out_names(uint32_t first_offset) {
        std::vector<NameSortEntry> sorted;
        sorted.reserve(tree.directories.size() + tree.files.size());
        for (BuilderDirectory* d : tree.directories) {
            sorted.push_back(name_sort_entry(d->name, &d->name_offset));
        }
        for (BuilderFile* f : tree.files) {
            sorted.push_back(name_sort_entry(f->name, &f->name_offset));
        }
        std::sort(sorted.begin(), sorted.end(), name_less);
        names.clear();
        uint32_t offset = first_offset;
        for (size_t i = 0; i < sorted.size(); ++i) {
            if (i == 0 || name_less(sorted[i - 1], sorted[i])) {
                names.push_back({sorted[i].name, offset});
                offset += static_cast<uint32_t>(std::strlen(sorted[i].name) + 1);
            }
            *sorted[i].offset = names.back().offset;
        }
    }

    // A name with its first eight bytes as one number, most significant
    // first and zeros past its end, so that most comparisons of the sort
    // are one comparison of numbers.
    struct NameSortEntry {
        uint64_t prefix;
        const char* name;
        uint32_t* offset;
    };

    static NameSortEntry name_sort_entry(const char* name, uint32_t* offset) {
        uint64_t prefix = 0;
        size_t i = 0;
        for (; i < 8 && name[i] != '\0'; ++i) {
            prefix = prefix << 8 | static_cast<unsigned char>(name[i]);
        }
        if (i > 0) {
            prefix <<= 8 * (8 - i); // the empty name (the root's) stays 0
        }
        return {prefix, name, offset};
    }

    // Byte order, as the names block is sorted.
    static bool name_less(const NameSortEntry& a, const NameSortEntry& b) {
        if (a.prefix != b.prefix) {
            return a.prefix < b.prefix;
        }
        // Equal prefixes: both names end within them (equal names) or both
        // go on past them.
        return (a.prefix & 0xFF) != 0 && std::strcmp(a.name + 8, b.name + 8) < 0;
    }

    bool write(const void* data, size_t size) {
        if (stream_write(output, data, static_cast<uint32_t>(size)) != size) {
            error = "cannot write the archive (disk full?)";
            return false;
        }
        return true;
    }

    bool pad_from(uint32_t end) {
        static const unsigned char zeros[EPK2_ALIGNMENT] = {};
        uint32_t padding = epk2_align(end) - end;
        stream_seek(output, static_cast<int32_t>(end), STREAM_SEEK_BEGIN);
        return padding == 0 || write(zeros, padding);
    }

    // Header, placeholder records, names and padding; returns table_end.
    bool write_head(uint32_t& table_end) {
        const uint32_t dir_count = static_cast<uint32_t>(tree.directories.size());
        const uint32_t file_count = static_cast<uint32_t>(tree.files.size());
        std::vector<unsigned char> head;
        put_u32(head, EPK2_MAGIC);
        put_u16(head, EPK2_VERSION);
        put_u16(head, 0);
        put_u32(head, 0);
        put_u32(head, 0);
        put_u32(head, 0); // table_end, written at the end
        put_u32(head, dir_count);
        put_u32(head, file_count);
        put_u32(head, 0);
        const uint32_t table_start = EPK2_HEADER_SIZE;
        head.resize(head.size() + EPK2_DIR_RECORD_SIZE * size_t(dir_count) +
                    EPK2_FILE_RECORD_SIZE * size_t(file_count));
        lay_out_names(static_cast<uint32_t>(head.size() - table_start));
        for (const NameBlockEntry& entry : names) {
            const size_t length = std::strlen(entry.name);
            head.insert(head.end(), entry.name, entry.name + length + 1);
        }
        pad_to_alignment(head, 0);
        if (head.size() > BUILDER_MAX_ARCHIVE) {
            error = "the archive's table would reach 2 GiB";
            return false;
        }
        table_end = static_cast<uint32_t>(head.size());
        return write(head.data(), head.size());
    }

    static unsigned worker_count(unsigned requested, size_t files) {
        unsigned workers = requested;
        if (workers == 0) {
            workers = std::min(8u, std::max(1u, std::thread::hardware_concurrency()));
        }
        return files > 1 && workers > 1 ? workers : 0;
    }

    bool write_files(uint32_t table_end) {
        const uint32_t total = static_cast<uint32_t>(tree.files.size());
        std::vector<unsigned char> buffer(BUILDER_COPY_BUFFER);
        std::vector<unsigned char> run_buffer(std::max(1u, builder.options.copy_block));
        std::optional<PreparePipeline> pipeline;
        if (unsigned workers = worker_count(builder.options.threads, total)) {
            pipeline.emplace(tree.files, builder.options.recompress, workers);
        }
        uint32_t offset = table_end;
        for (uint32_t i = 0; i < total; ++i) {
            if (uint32_t run = builder_copy_run_length(tree.files, i, builder.options.recompress)) {
                if (!builder_write_copy_run(output, tree.files, i, run, offset, run_buffer,
                                            error)) {
                    return false;
                }
                for (uint32_t k = i; k < i + run; ++k) {
                    report(*tree.files[k], k, total);
                }
                i += run - 1;
                continue;
            }
            BuilderFile& file = *tree.files[i];
            file.data_offset = offset;
            file.key_number = static_cast<uint8_t>(i % EPK2_KEY_COUNT + 1);
            PreparedFile prepared;
            bool padded = false;
            bool in_memory = pipeline ? (prepared = pipeline->take(i)).in_memory
                                      : builder_prepare(file, file.key_number,
                                                        builder.options.recompress, prepared);
            if (in_memory) {
                const uint64_t stored = prepared.bytes.size() + uint64_t(prepared.tail_length);
                if (offset + stored > BUILDER_MAX_ARCHIVE) {
                    error = "the archive would reach 2 GiB";
                    return false;
                }
                file.size = prepared.size;
                file.stored_size = static_cast<uint32_t>(stored);
                if (prepared.tail_length == 0) {
                    // Data and padding in one write.
                    prepared.bytes.resize(epk2_align(file.stored_size), 0);
                    if (!write(prepared.bytes.data(), prepared.bytes.size())) {
                        return false;
                    }
                    padded = true;
                } else if (!write(prepared.bytes.data(), prepared.bytes.size()) ||
                           !copy_tail(file, prepared)) {
                    return false;
                }
            } else if (!prepared.error.empty()) {
                error = prepared.error;
                return false;
            } else if (prepared.streamed) {
                if (!write_streamed(*pipeline, i, file, buffer)) {
                    return false;
                }
            } else if (!builder_stream_file(output, file, builder.options.recompress, buffer,
                                            error)) {
                return false;
            }
            report(file, i, total);
            uint64_t end = uint64_t(offset) + file.stored_size;
            if (epk2_align(static_cast<uint32_t>(end)) > BUILDER_MAX_ARCHIVE) {
                error = "the archive would reach 2 GiB";
                return false;
            }
            if (!padded && !pad_from(static_cast<uint32_t>(end))) {
                return false;
            }
            offset = epk2_align(static_cast<uint32_t>(end));
        }
        return true;
    }

    // Copies out the chunks a worker deflates the file into. Where they
    // would not do as they are (past the archive's limit, or of no use) or
    // a write comes up short, the writer makes the entry itself, as it does
    // without workers, so the outcome is the same either way.
    bool write_streamed(PreparePipeline& pipeline, uint32_t index, BuilderFile& file,
                        std::vector<unsigned char>& buffer) {
        stream_seek(output, static_cast<int32_t>(file.data_offset), STREAM_SEEK_BEGIN);
        uint64_t written = 0;
        std::vector<unsigned char> chunk;
        PreparePipeline::StreamedEnd end;
        bool whole = true;
        while (pipeline.take_chunk(index, chunk, end)) {
            if (file.data_offset + written + chunk.size() > BUILDER_MAX_ARCHIVE ||
                stream_write(output, chunk.data(), static_cast<uint32_t>(chunk.size())) !=
                    chunk.size()) {
                pipeline.abandon(index);
                whole = false;
                break;
            }
            written += chunk.size();
        }
        if (whole && !end.error.empty()) {
            error = end.error;
            return false;
        }
        if (whole && !end.window_full && written != end.size) {
            file.size = end.size;
            file.stored_size = static_cast<uint32_t>(written);
            return true;
        }
        stream_seek(output, static_cast<int32_t>(file.data_offset), STREAM_SEEK_BEGIN);
        return builder_stream_file(output, file, builder.options.recompress, buffer, error);
    }

    // The unchanged rest of a copied entry, from the source archive's file
    // straight into the output.
    bool copy_tail(const BuilderFile& file, const PreparedFile& prepared) {
        if (stream_copy_from_shared(output, prepared.tail_source, prepared.tail_offset,
                                    prepared.tail_length) != prepared.tail_length) {
            error = std::string("cannot copy ") + file.path + " into the archive (disk full?)";
            return false;
        }
        return true;
    }

    void report(const BuilderFile& file, uint32_t index, uint32_t total) {
        if (callback) {
            callback(context, index, total);
        } else if (builder.options.log) {
            std::fprintf(builder.options.log, "Packing: %s\n", file.path);
            std::fprintf(builder.options.log, "-> offset:%u, size:%u, storage:%u\n",
                         file.data_offset, file.size, file.stored_size);
        }
    }

    bool write_table(uint32_t table_end) {
        const uint32_t dir_count = static_cast<uint32_t>(tree.directories.size());
        const uint32_t file_count = static_cast<uint32_t>(tree.files.size());
        std::vector<unsigned char> fields;
        put_u32(fields, table_end);
        put_u32(fields, dir_count);
        put_u32(fields, file_count);
        put_u32(fields, 0);
        stream_seek(output, static_cast<int32_t>(EPK2_OFFSET_TABLE_END), STREAM_SEEK_BEGIN);
        if (!write(fields.data(), fields.size())) {
            return false;
        }

        // Every record is written in place into a table of its final size,
        // not pushed byte by byte: a merge writes thousands of them.
        std::vector<unsigned char> table(table_end - EPK2_HEADER_SIZE, 0);
        unsigned char* at = table.data();
        auto u32 = [&at](uint32_t v) {
            for (int i = 0; i < 4; ++i) {
                *at++ = static_cast<unsigned char>(v >> (8 * i));
            }
        };
        for (const BuilderDirectory* d : tree.directories) {
            u32(d->name_offset);
            u32(index_of(d->parent));
            u32(index_of(d->first_subdirectory));
            u32(index_of(d->first_file));
            u32(index_of(d->previous));
            u32(index_of(d->next));
        }
        for (const BuilderFile* f : tree.files) {
            u32(f->name_offset);
            *at++ = static_cast<unsigned char>(f->index);
            *at++ = static_cast<unsigned char>(f->index >> 8);
            *at++ = f->attributes;
            *at++ = f->key_number;
            u32(f->data_offset);
            u32(f->stored_size);
            u32(f->size);
            u32(index_of(f->previous));
            u32(index_of(f->next));
        }
        // Each name's zero byte and the padding after the last one are the
        // zeros the table started with.
        for (const NameBlockEntry& entry : names) {
            std::memcpy(table.data() + entry.offset, entry.name, std::strlen(entry.name));
        }

        Stream* window =
            stream_open_range(output, STREAM_BORROWS, EPK2_HEADER_SIZE,
                              table_end - EPK2_HEADER_SIZE, STREAM_OPEN_WRITE, nullptr);
        Stream* scrambler = window ? stream_open_scramble(window, epk2_key(1), EPK2_KEY_LENGTH,
                                                          EPK2_SCRAMBLE_LIMIT, nullptr)
                                   : nullptr;
        if (!scrambler) {
            if (window) {
                stream_close(window);
            }
            error = "out of memory";
            return false;
        }
        uint32_t written =
            stream_write(scrambler, table.data(), static_cast<uint32_t>(table.size()));
        stream_close(scrambler);
        if (written != table.size()) {
            error = "cannot write the archive's table";
            return false;
        }
        return true;
    }
};

bool ArchiveBuilder::pack(const char* output_path, FileSystem* first, FileSystem* second,
                          void* context, ProgressCallback callback) {
    error_.clear();
    if (!first) {
        error_ = "no source to pack";
        return false;
    }
    Stream* output = options.open_output
                         ? options.open_output(output_path, options.open_output_context)
                         : stream_open_file(output_path, 0, 0, STREAM_OPEN_WRITE, nullptr);
    if (!output) {
        error_ = std::string("cannot create ") + output_path;
        return false;
    }
    bool ok = pack_into(output, first, second, context, callback);
    stream_close(output);
    if (!ok) {
        // A half-written archive must never be taken for a good one.
        platform_file_delete(output_path);
    }
    return ok;
}

namespace {

struct RecordCollection {
    BuilderTree* tree;
    FileSystem* source;
};

// Adds the entry as builder_add_entry does and keeps the record with a file
// that made it into the tree.
void add_record(void* context, const DirEntry* entry, const ArchiveEntryInfo* info) {
    auto* collection = static_cast<RecordCollection*>(context);
    BuilderTree& tree = *collection->tree;
    size_t files_before = tree.files.size();
    builder_add_entry(&tree, collection->source, const_cast<DirEntry*>(entry));
    if (info && tree.files.size() > files_before) {
        tree.files.back()->record = *info;
        tree.files.back()->has_record = true;
    }
}

} // namespace

void ArchiveBuilder::collect(FileSystem* source) {
    if (!tree_) {
        start_tree();
    }
    if (archive_is_archive(source)) {
        RecordCollection collection{tree_.get(), source};
        archive_enumerate_records(source, "/", 1, &collection, add_record);
    } else {
        fs_enumerate(source, "/", 1, tree_.get(), builder_add_entry);
    }
    collect_error_ = tree_->collect_error;
}

bool ArchiveBuilder::pack_into(Stream* output, FileSystem* first, FileSystem* second, void* context,
                               ProgressCallback callback) {
    error_.clear();
    collect_error_.clear();
    if (!first) {
        error_ = "no source to pack";
        return false;
    }
    if (!output) {
        error_ = "no output to write";
        return false;
    }

    start_tree();
    collect(first);
    if (second) {
        collect(second);
    }
    std::string rules_error;
    if (!read_packing_rules(first, no_compression_, &rules_error) && collect_error_.empty()) {
        collect_error_ = rules_error;
    }
    WildcardIndex rules;
    index_packing_rules(no_compression_, rules);
    for (BuilderFile* file : tree_->files) {
        file->check_copy = file->source == first || options.check_second_source_copies;
        file->compress = !wildcard_index_match(rules, file->path);
    }

    PackRun run{*this, *tree_, output, context, callback, error_, {}};
    uint32_t table_end = 0;
    bool ok = collect_error_.empty();
    if (!ok) {
        error_ = collect_error_;
    }
    ok =
        ok && run.write_head(table_end) && run.write_files(table_end) && run.write_table(table_end);
    // A source archive that another process wrote to meanwhile may have
    // given a mix of old and new bytes.
    if (ok && (archive_file_changed(first) || (second && archive_file_changed(second)))) {
        error_ = "a source archive changed while it was read";
        ok = false;
    }

    if (ok && options.log) {
        std::fprintf(options.log, "\nPacking Complete.\nDirectories:%u, Files:%u\n",
                     static_cast<unsigned>(tree_->directories.size()),
                     static_cast<unsigned>(tree_->files.size()));
        std::fflush(options.log);
    }
    release_nodes();
    no_compression_.clear();
    return ok;
}
