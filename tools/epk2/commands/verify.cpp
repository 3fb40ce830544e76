#include "archive/archive_check.h"
#include "cli/cli.h"
#include "commands/commands.h"
#include "commands/verify_reads.h"

namespace {

const char* const HELP =
    "Usage: epk2 verify ARCHIVE [--strict] [--json] [--public-key NAME.pub]\n"
    "\n"
    "Reads every file to its end and checks the archive's layout. Each finding\n"
    "is one line \"VERDICT WHERE: REASON\", WHERE being the entry's path (or\n"
    "\"directory record N\", \"file record N\" for a record the root does not\n"
    "reach, \"header\", \"name area\", \"data area\"); an empty name shows as \"\".\n"
    "\n"
    "  DAMAGED  an entry's content cannot be read back to its size: wrong\n"
    "           length, broken zlib data or a bad Adler-32 checksum.\n"
    "  INVALID  the archive breaks what readers rely on: the header's figures,\n"
    "           the table's bounds, links that leave their tables or loop,\n"
    "           names not NUL-terminated or holding \"/\", unknown keys.\n"
    "  NOTE     it differs from what epk2 pack writes but reads back the same,\n"
    "           as archives of other writers of the format do: key 0 or keys\n"
    "           out of rotation, attribute bytes, index fields, reserved header\n"
    "           fields, names out of byte order or outside the name area, empty\n"
    "           names (no path finds such an entry; extract, update and merge\n"
    "           leave it out), records numbered in another order, data blocks in\n"
    "           another order or with gaps, and zlib streams cut after the last\n"
    "           byte of a tiny file (read whole, but their checksum is missing).\n"
    "\n"
    "The last line counts the files checked, the damaged ones and, when there\n"
    "are any, the invalid findings and the notes.\n"
    "\n"
    "Exit status 0 when nothing is damaged or invalid (notes alone pass),\n"
    "1 when anything is damaged or invalid, or with --strict any note.\n"
    "\n"
    "  --strict   exit 1 for notes too: for publishers who want pack's own layout\n"
    "  --json     one JSON object for scripts: archive, files_checked, damaged,\n"
    "             invalid, notes, exit_status and findings [{verdict, where,\n"
    "             reason}] (text in UTF-8)\n"
    "\n"
    "With --public-key, it first checks that the publisher signed exactly\n"
    "this archive: the signature beside it (ARCHIVE without its extension\n"
    "plus \".sig\": Patch.dat has Patch.sig) must be the one that epk2 sign\n"
    "or openssl made with the private key of NAME.pub over every byte of it.\n"
    "A missing or wrong signature ends the check with status 1, naming the\n"
    "file at fault.\n"
    "\n"
    "  --public-key NAME.pub  the publisher's public key (see epk2 keygen)\n"
    "\n"
    "Examples: epk2 verify Tessavane.dat\n"
    "          epk2 verify --strict --json Patch.dat\n"
    "          epk2 verify Patch.dat --public-key publisher.pub\n";

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

int command_verify(const Arguments& args, Console& console) {
    FileSystemPtr fs;
    if (int status = open_first_archive(args, console, fs)) {
        return status;
    }
    int status = EXIT_OK;
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
        summary += ", " + text_count_of(findings.notes, "note", "notes");
    }
    std::fprintf(console.out, "%s\n", summary.c_str());
    const std::string& name = args.positional[0];
    if (findings.damaged) {
        print_error(console, name + ": " +
                                 text_count_of(findings.damaged, "entry is", "entries are") +
                                 " damaged");
    }
    if (findings.invalid) {
        print_error(console, name + ": " +
                                 text_count_of(findings.invalid, "violation", "violations") +
                                 " of what readers rely on");
    }
    if (strict && findings.notes) {
        print_error(console, name + ": " +
                                 text_count_of(findings.notes, "deviation", "deviations") +
                                 " from the layout epk2 pack writes (--strict)");
    }
    return status;
}

} // namespace

const CommandDefinition VERIFY_COMMAND = {
    .help = HELP,
    .flags = {"--strict", "--json"},
    .valued = {"--public-key"},
    .needs = {.least = 1, .most = 1, .give = "exactly one ARCHIVE"},
    .run = command_verify,
};
