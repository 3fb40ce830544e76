#include "cli/cli.h"

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "platform/platform.h"
#include "stream/stream.h"
#include "stream/work_file.h"

int run_builder(Console& console, const Arguments& args, const std::string& output_display,
                const std::string& output_path, FileSystemPtr first, FileSystemPtr second,
                const char* label) {
    ArchiveBuilder builder;
    const bool verbose = args.has("--verbose");
    builder.options.log = verbose ? console.out : nullptr;
    builder.options.recompress = args.has("--recompress");
    builder.options.threads = 0;
    builder.options.check_second_source_copies = args.has("--check-base");

    // Written beside the output and moved over it when complete, so that an
    // existing archive at the output (even one of the sources) stays whole
    // until the new one is, and an interrupted run leaves nothing behind.
    uint32_t existing = platform_attributes(output_path.c_str());
    if (existing != PLATFORM_ATTRIBUTES_INVALID && (existing & PLATFORM_ATTRIBUTE_DIRECTORY)) {
        print_error(console, output_display + ": is a folder; -o names the archive file to write");
        return EXIT_USAGE;
    }
    WorkFile work;
    if (!work_file_create(&work, output_path.c_str())) {
        print_error(console, output_display + ": cannot write there: " + os_reason());
        return EXIT_USAGE;
    }
    Stream* output = work_file_stream(&work, nullptr);
    if (!output) {
        work_file_discard(&work);
        print_error(console, output_display + ": out of memory");
        return EXIT_USAGE;
    }

    // The builder writes its own log only without a callback.
    MessageCapture capture;
    ProgressOnBar shown(console);
    bool ok = verbose ? builder.pack_into(output, first.get(), second.get(), nullptr, nullptr)
                      : update_pack_reporting(builder, output, first.get(), second.get(), label,
                                              ProgressOnBar::on_progress, &shown);
    stream_close(output);
    first.reset();
    second.reset();
    if (!ok) {
        work_file_discard(&work);
        print_error(console,
                    output_display + ": " + label + " failed: " + to_console(builder.error()));
        return EXIT_USAGE;
    }
    // The new archive is on the disk before it takes the output's name, so
    // that a crash never leaves the output empty.
    if (!work_file_commit(&work)) {
        print_error(console,
                    output_display + ": cannot move the new archive into place: " + os_reason());
        return EXIT_USAGE;
    }
    // What the builder left out on its own (entries without a name).
    const std::string warning = "Warning: ";
    for (const std::string& message : capture.messages()) {
        if (message.compare(0, warning.size(), warning) == 0) {
            print_error(console, "warning: " + to_console(message.substr(warning.size())));
        }
    }
    // Read the result back: the figures shown are the archive's own.
    ArchiveHeaderInfo header{};
    FileSystemPtr written(archive_open(nullptr, output_path.c_str(), nullptr));
    if (!written || !archive_header_info(written.get(), &header)) {
        print_error(console, output_display + ": the new archive cannot be read back");
        return EXIT_USAGE;
    }
    // Directories are counted without the root, as list and info count them.
    std::fprintf(console.out, "%s: %s in %s\n", to_console_from_terminal(output_display).c_str(),
                 text_count_of(header.file_count, "file", "files").c_str(),
                 text_count_of(header.dir_count - 1, "directory", "directories").c_str());
    return EXIT_OK;
}
