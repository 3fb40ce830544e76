#include "builder_run.h"

#include <random>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "console_text.h"
#include "platform/platform.h"
#include "progress.h"
#include "tool_support.h"

namespace {

struct ProgressContext {
    ArchiveBuilder* builder;
    ProgressBar* bar;
    uint64_t bytes_done;
    uint64_t bytes_total;
};

int on_file_written(void* context, uint32_t index, uint32_t total) {
    auto* progress = static_cast<ProgressContext*>(context);
    if (index == 0) {
        progress->bytes_total = 0;
        for (const BuilderFile* file : progress->builder->files) {
            progress->bytes_total += file->size;
        }
        progress->bar->set_totals(total, progress->bytes_total);
    }
    if (index < progress->builder->files.size()) {
        progress->bytes_done += progress->builder->files[index]->size;
    }
    progress->bar->advance(index + 1, progress->bytes_done);
    return 1;
}

std::string partial_path(const std::string& output_path) {
    std::random_device random;
    return output_path + ".partial-" + std::to_string(random() % 1000000);
}

} // namespace

int run_builder(Console& console, const Arguments& args, const std::string& output_display,
                const std::string& output_path, FileSystem* first, FileSystem* second,
                const char* label) {
    ArchiveBuilder builder;
    const bool verbose = args.has("--verbose");
    builder.options.log = verbose ? console.out : nullptr;
    builder.options.recompress = args.has("--recompress");
    builder.options.threads = 0;
    builder.options.check_second_source_copies = args.has("--check-base");

    ProgressBar bar(console, label, 0, 0);
    ProgressContext progress{&builder, &bar, 0, 0};
    // The builder writes its own log only without a callback.
    ProgressCallback callback = verbose ? nullptr : on_file_written;

    // Written beside the output and moved over it when complete, so that an
    // existing archive at the output (even one of the sources) stays whole
    // until the new one is.
    const std::string partial = partial_path(output_path);
    MessageCapture capture;
    bool ok = builder.pack(partial.c_str(), first, second, &progress, callback);
    if (!verbose) {
        bar.finish();
    }
    if (!ok) {
        print_error(console,
                    output_display + ": " + label + " failed: " + to_console(builder.error()));
        return EXIT_USAGE;
    }
    // Replacing an archive: the new one is on the disk before it takes the
    // old one's name, so that a crash never leaves the output empty. A new
    // output replaces nothing and is simply renamed.
    bool replacing = platform_attributes(output_path.c_str()) != PLATFORM_ATTRIBUTES_INVALID;
    bool moved = false;
    if (replacing) {
        PlatformFile written_file = platform_file_open(
            partial.c_str(), PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE, PLATFORM_OPEN_EXISTING);
        bool synced = written_file != PLATFORM_INVALID_FILE && platform_file_sync(written_file);
        if (written_file != PLATFORM_INVALID_FILE) {
            platform_file_close(written_file);
        }
        moved = synced && platform_file_replace(partial.c_str(), output_path.c_str());
    } else {
        moved = platform_file_move(partial.c_str(), output_path.c_str());
    }
    if (!moved) {
        platform_file_delete(partial.c_str());
        print_error(console, output_display + ": cannot move the new archive into place");
        return EXIT_USAGE;
    }
    // Read the result back: the figures shown are the archive's own.
    ArchiveHeaderInfo header{};
    FileSystemPtr written(archive_open(nullptr, output_path.c_str(), nullptr));
    if (!written || !archive_header_info(written.get(), &header)) {
        print_error(console, output_display + ": the new archive cannot be read back");
        return EXIT_USAGE;
    }
    std::fprintf(console.out, "%s: %u files in %u directories\n", output_display.c_str(),
                 header.file_count, header.dir_count);
    return EXIT_OK;
}
