#include "archive/archive_check.h"
#include "console_text.h"
#include "entry_checks.h"
#include "progress.h"
#include "signing.h"
#include "tool_support.h"

namespace {

// DAMAGED comes from reading an entry, the others from the layout check.
constexpr const char* VERDICT_DAMAGED = "DAMAGED";

struct Finding {
    const char* verdict;
    std::string where;  // code page 932
    std::string reason; // code page 932
};

struct Findings {
    std::vector<Finding> list;
    size_t damaged = 0;
    size_t invalid = 0;
    size_t notes = 0;

    void add(const char* verdict, std::string where, std::string reason) {
        if (verdict == VERDICT_DAMAGED) {
            ++damaged;
        } else if (std::string(verdict) == archive_verdict_name(ARCHIVE_INVALID)) {
            ++invalid;
        } else {
            ++notes;
        }
        list.push_back({verdict, std::move(where), std::move(reason)});
    }
};

void collect_finding(void* context, ArchiveVerdict verdict, const char* where, const char* reason) {
    static_cast<Findings*>(context)->add(archive_verdict_name(verdict), where, reason);
}

// "/" is the root here; other paths may hold empty names.
std::string shown_where(const std::string& where) {
    return where == "/" || where.empty() || where[0] != '/' ? to_console(where)
                                                            : to_console_path(where);
}

void print_text(Console& console, const Findings& findings) {
    for (const Finding& finding : findings.list) {
        std::fprintf(console.out, "%s %s: %s\n", finding.verdict,
                     shown_where(finding.where).c_str(), to_console(finding.reason).c_str());
    }
}

void print_json(Console& console, const std::string& archive, uint64_t files,
                const Findings& findings, int status) {
    std::fprintf(console.out,
                 "{\"archive\": \"%s\", \"files_checked\": %llu, \"damaged\": %zu, "
                 "\"invalid\": %zu, \"notes\": %zu, \"exit_status\": %d, \"findings\": [",
                 to_json_string(archive).c_str(), static_cast<unsigned long long>(files),
                 findings.damaged, findings.invalid, findings.notes, status);
    bool first = true;
    for (const Finding& finding : findings.list) {
        std::fprintf(console.out,
                     "%s\n  {\"verdict\": \"%s\", \"where\": \"%s\", \"reason\": \"%s\"}",
                     first ? "" : ",", finding.verdict, to_json_string(finding.where).c_str(),
                     to_json_string(finding.reason).c_str());
        first = false;
    }
    std::fputs(first ? "]}\n" : "\n]}\n", console.out);
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
    const bool json = args.has("--json");
    const bool strict = args.has("--strict");
    // The layout first: opening only made sure that everything reads.
    Findings findings;
    archive_check(fs.get(), nullptr, 0, &findings, collect_finding);
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
    // Entries are inflated on every core; findings still come in archive order.
    const std::vector<EntryReadResult> results =
        read_entries_in_parallel(fs.get(), entries, 0, progress);
    uint64_t files_done = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].directory) {
            continue;
        }
        ++files_done;
        const EntryReadResult& result = results[i];
        if (!result.problem.empty()) {
            findings.add(VERDICT_DAMAGED, entries[i].path, result.problem);
        } else if (result.unchecked) {
            findings.add(archive_verdict_name(ARCHIVE_NOTE), entries[i].path,
                         "its zlib stream stops at the stored size after the last byte, without "
                         "its end: the content reads back whole, but its checksum cannot be "
                         "checked");
        }
    }
    progress.finish();

    const bool failed = findings.damaged || findings.invalid || (strict && findings.notes);
    status = failed ? EXIT_DAMAGED : EXIT_OK;
    if (json) {
        // The name as given is terminal text; JSON carries code page 932
        // text converted to UTF-8.
        std::string name;
        if (!from_console(args.positional[0], name)) {
            name = "?";
        }
        print_json(console, name, files_done, findings, status);
        return status;
    }
    print_text(console, findings);
    std::string summary = to_console_from_terminal(args.positional[0]) + ": " +
                          std::to_string(files_done) + " files checked, " +
                          std::to_string(findings.damaged) + " damaged";
    if (findings.invalid) {
        summary += ", " + std::to_string(findings.invalid) + " invalid";
    }
    if (findings.notes) {
        summary += ", " + count_of(findings.notes, "note", "notes");
    }
    std::fprintf(console.out, "%s\n", summary.c_str());
    const std::string& name = args.positional[0];
    if (findings.damaged) {
        print_error(console, name + ": " + count_of(findings.damaged, "entry is", "entries are") +
                                 " damaged");
    }
    if (findings.invalid) {
        print_error(console, name + ": " + count_of(findings.invalid, "violation", "violations") +
                                 " of what readers rely on");
    }
    if (strict && findings.notes) {
        print_error(console, name + ": " + count_of(findings.notes, "deviation", "deviations") +
                                 " from the layout epk2 pack writes (--strict)");
    }
    return status;
}
