#include "console_text.h"
#include "entry_reader.h"
#include "progress.h"
#include "tool_support.h"

int command_verify(const Arguments& args, Console& console) {
    int status = EXIT_OK;
    FileSystemPtr fs = open_sole_archive(args, console, "verify", status);
    if (!fs) {
        return status;
    }
    std::vector<ListedEntry> entries = list_archive(fs.get());
    uint64_t files_total = 0;
    uint64_t bytes_total = 0;
    for (const ListedEntry& entry : entries) {
        if (!entry.directory) {
            ++files_total;
            bytes_total += entry.size;
        }
    }
    ProgressBar progress(console, "verify", files_total, bytes_total);
    uint64_t files_done = 0;
    uint64_t bytes_done = 0;
    size_t damaged = 0;
    for (const ListedEntry& entry : entries) {
        if (entry.directory) {
            continue;
        }
        EntryReadResult result = read_entry(fs.get(), entry.info, nullptr);
        if (!result.problem.empty()) {
            ++damaged;
            std::fprintf(console.out, "DAMAGED %s: %s\n", to_console(entry.path).c_str(),
                         result.problem.c_str());
        }
        progress.advance(++files_done, bytes_done += entry.size);
    }
    progress.finish();
    std::fprintf(console.out, "%s: %llu files checked, %zu damaged\n", args.positional[0].c_str(),
                 (unsigned long long)files_done, damaged);
    if (damaged) {
        print_error(console, args.positional[0] + ": " + std::to_string(damaged) +
                                 (damaged == 1 ? " entry is" : " entries are") + " damaged");
        return EXIT_DAMAGED;
    }
    return EXIT_OK;
}
