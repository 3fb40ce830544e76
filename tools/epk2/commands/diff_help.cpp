#include "commands/commands.h"

// The command's body lies in tools/epk2/cmd_diff.cpp for now.
int command_diff(const Arguments& args, Console& console);

namespace {

const char* const HELP =
    "Usage: epk2 diff OLD NEW -o PATCH [--version V] [--attribute A]\n"
    "                 [--extract PATTERN]... [--strict] [--json] [--dry-run]\n"
    "\n"
    "Writes PATCH, a patch archive that turns OLD into NEW when the updater\n"
    "applies it, holding only what changed. OLD and NEW are each a folder\n"
    "(read as pack reads it) or an archive, in any combination: typically OLD\n"
    "is the Tessavane.dat you shipped, or the folder you packed it from, and\n"
    "NEW the folder of the next version.\n"
    "\n"
    "The patch holds every file of NEW that OLD lacks or holds with other\n"
    "content, and NEW's info.txt and _config.txt whether they changed or not:\n"
    "the updater reads the new version from the one and the packing rules of\n"
    "its merge from the other. Files are compared by their bytes, never by\n"
    "their times; two archive entries stored alike are compared by their\n"
    "stored bytes, without inflating them. Files whose path contains \".svn\"\n"
    "are left out, as pack leaves them out.\n"
    "\n"
    "Proof: before PATCH is kept, diff applies it to OLD as the updater does\n"
    "and compares every file of the result with NEW's, content by content:\n"
    "\n"
    "  applying PATCH to OLD gives NEW: 12 files changed, 3 added, 1 removed\n"
    "\n"
    "If any file differs, nothing is left at PATCH and the exit status is 2.\n"
    "For an archive OLD the updater's merge is written to a work file beside\n"
    "PATCH and removed after. For a folder OLD it is replayed instead: the\n"
    "merge's own builder decides for each file of the result whether it is\n"
    "the patch's or OLD's, and the file is read from there; writing it would\n"
    "deflate all of OLD anew only to inflate it again.\n"
    "\n"
    "A patch can add and replace files but never delete one: a file or folder\n"
    "of OLD that NEW lacks stays after the update. Each is named in a warning\n"
    "(\"stays after the update: /path\") and counted as removed above; the\n"
    "proof then checks NEW's files only.\n"
    "\n"
    "Two more warnings name what the proof cannot see:\n"
    "  - a path that is a file in OLD and a folder in NEW, or the other way\n"
    "    round: the updated data hold both, and extracting them fails;\n"
    "  - files below /_extract whose last names are the same (ASCII case\n"
    "    aside, as Windows compares them): the updater copies every one into\n"
    "    the install folder under that name, and only the last one stays.\n"
    "\n"
    "The updater refuses a patch whose version is not higher than the\n"
    "installed one (versions compare as decimal numbers: 1.9 is newer than\n"
    "1.10) or whose attribute differs from the installed one's. diff refuses\n"
    "such a patch too, with the updater's own words, before writing anything.\n"
    "\n"
    "  -o PATCH           the patch to write (replaced only once it is proved)\n"
    "  --version V        give the patch an info.txt with version=V; NEW's\n"
    "                     other lines (identifer, attribute) are kept\n"
    "  --attribute A      the same for attribute=A\n"
    "  --extract PATTERN  also put each changed file whose path matches\n"
    "                     PATTERN under /_extract by its last name, so that\n"
    "                     the updater copies it into the install folder\n"
    "                     (repeatable; * and ? as for epk2 extract; never\n"
    "                     info.txt or _config.txt). Changed files below NEW's\n"
    "                     own _extract/ travel there anyway.\n"
    "  --strict           fail (status 1), writing nothing, when anything of\n"
    "                     OLD would stay after the update, a path is a file\n"
    "                     on one side and a folder on the other, or two\n"
    "                     loose files would take one name\n"
    "  --json             the summary as one JSON object: changed, added and\n"
    "                     removed files with their sizes (paths in UTF-8)\n"
    "  --dry-run          compare and print the summary only: the patch is\n"
    "                     neither written nor proved (-o may be left out)\n"
    "\n"
    "Exit status: 0 the patch is written and proved; 1 the updater would\n"
    "refuse it, --strict found one of the warnings above, or an archive is\n"
    "damaged; 2 the proof failed, or a usage or input/output error.\n"
    "\n"
    "Examples: epk2 diff Tessavane.dat data -o Patch.dat\n"
    "          epk2 diff release-1.00 release-1.01 -o Patch.dat --strict\n"
    "          epk2 diff old.dat new.dat -o Patch.dat --version 1.02 \\\n"
    "               --extract '/tools/*.exe'\n"
    "          epk2 diff old new --dry-run --json > changes.json\n";

} // namespace

const CommandDefinition DIFF_COMMAND = {
    .help = HELP,
    .flags = {"--strict", "--json", "--dry-run"},
    .valued = {"-o", "--version", "--attribute", "--extract"},
    .needs = {.least = 2,
              .most = 2,
              .give = "OLD, NEW and -o PATCH",
              .option = "-o",
              .unless = "--dry-run"},
    .run = command_diff,
};
