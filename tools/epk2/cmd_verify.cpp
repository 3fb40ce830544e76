#include "archive/archive_check.h"
#include "console_text.h"
#include "entry_reader.h"
#include "progress.h"
#include "signing.h"
#include "tool_support.h"

namespace {

void print_finding(void* context, const char* where, const char* reason) {
    std::fprintf(static_cast<Console*>(context)->out, "INVALID %s: %s\n", to_console(where).c_str(),
                 to_console(reason).c_str());
}

} // namespace

int command_verify(const Arguments& args, Console& console) {
    int status = EXIT_OK;
    FileSystemPtr fs = open_sole_archive(args, console, "verify", status);
    if (!fs) {
        return status;
    }
    // With --public-key, the publisher's signature before anything else: an
    // archive that is not the one signed is not worth reading.
    if (const int signature = verify_archive_signature(args, console, fs.get())) {
        return signature;
    }
    // The layout first: opening only made sure that everything reads.
    const uint32_t invalid = archive_check(fs.get(), nullptr, 0, &console, print_finding);
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
    std::string summary = to_console_from_terminal(args.positional[0]) + ": " +
                          std::to_string(files_done) + " files checked, " +
                          std::to_string(damaged) + " damaged";
    if (invalid) {
        summary += ", " + std::to_string(invalid) + " invalid";
    }
    std::fprintf(console.out, "%s\n", summary.c_str());
    if (damaged) {
        print_error(console, args.positional[0] + ": " + std::to_string(damaged) +
                                 (damaged == 1 ? " entry is" : " entries are") + " damaged");
    }
    if (invalid) {
        print_error(console, args.positional[0] + ": " + std::to_string(invalid) +
                                 (invalid == 1 ? " deviation" : " deviations") +
                                 " from the layout epk2 pack writes");
    }
    return damaged || invalid ? EXIT_DAMAGED : EXIT_OK;
}
