#include "cli.h"

// The commands and their help texts, in the order "epk2 --help" lists them.
const std::vector<CommandSpec>& epk2_commands() {
    static const std::vector<CommandSpec> commands = {
        {"list",
         "list every entry of an archive",
         "Usage: epk2 list [--json] ARCHIVE\n"
         "\n"
         "Lists every entry in archive order (each directory before its contents):\n"
         "size, stored size, scrambling key, whether it is compressed, and the path;\n"
         "the last line counts files and directories (the root not counted).\n"
         "Control characters in a name are shown escaped (\\n, \\r, \\t, \\xNN),\n"
         "here and wherever a command names an entry; an empty name shows as \"\"\n"
         "(--json gives the path as it is, \"/data/\" for such a file in /data).\n"
         "\n"
         "  --json   one JSON array of objects {path, type, size, stored_size, key,\n"
         "           compressed} for scripts (paths in UTF-8)\n"
         "\n"
         "Example: epk2 list Tessavane.dat\n",
         {"--json"},
         {},
         command_list},
        {"extract",
         "recreate an archive's tree in a folder",
         "Usage: epk2 extract ARCHIVE [-C DIR] [PATTERN...]\n"
         "\n"
         "Writes every file of the archive below DIR (default: the current folder),\n"
         "creating folders as needed. With PATTERNs, only the files whose full path\n"
         "(\"/data/a.txt\") matches one of them: * matches any run of characters,\n"
         "\"/\" included, ? one character, letters match in either case.\n"
         "\n"
         "Entries whose names could escape DIR (\"..\", \".\", backslashes, colons,\n"
         "device names such as CON or NUL) are refused by name and the rest is\n"
         "extracted; the exit status is then 1. An entry whose stored name is empty\n"
         "(some writers of the format leave it so) has no name to give a file: it is\n"
         "skipped with a note, which alone does not change the exit status.\n"
         "\n"
         "Below DIR no link is followed: each folder is opened from the one above it,\n"
         "and a link found where a folder belongs (even one put there by someone else\n"
         "while extract runs) is named and nothing is written through it. A link or\n"
         "file at a file's own place is replaced, never written through. DIR itself\n"
         "may be a link: it is the folder you chose.\n"
         "\n"
         "  -C DIR   the folder to extract into (created if missing)\n"
         "\n"
         "Examples: epk2 extract Patch.dat -C patch\n"
         "          epk2 extract Tessavane.dat -C out '/_extract/*' '*.txt'\n",
         {},
         {"-C"},
         command_extract},
        {"cat",
         "write one entry's content to standard output",
         "Usage: epk2 cat ARCHIVE PATH\n"
         "\n"
         "Writes the content of the file PATH (for example info.txt or /data/a.txt)\n"
         "to standard output, descrambled and inflated.\n"
         "\n"
         "Example: epk2 cat Patch.dat info.txt\n",
         {},
         {},
         command_cat},
        {"verify",
         "check the layout, read every entry, report what is wrong",
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
         "          epk2 verify Patch.dat --public-key publisher.pub\n",
         {"--strict", "--json"},
         {"--public-key"},
         command_verify},
        {"info",
         "show the header figures and the version information",
         "Usage: epk2 info ARCHIVE\n"
         "\n"
         "Shows the archive's size, table end, directory and file counts, and the\n"
         "identifer, version and attribute of its info.txt. The root directory is\n"
         "not counted, as list and pack do not count it.\n"
         "\n"
         "Example: epk2 info Patch.dat\n",
         {},
         {},
         command_info},
        {"pack",
         "pack a folder into a new archive",
         "Usage: epk2 pack FOLDER -o ARCHIVE [--verbose] [--recompress] [--strict]\n"
         "\n"
         "Packs every file and folder below FOLDER into ARCHIVE. Within each folder\n"
         "names are taken in byte order, so the same folder always gives the same\n"
         "archive. Files are deflated unless FOLDER/_config.txt lists them under a\n"
         "[NoCompression] line (one wildcard pattern per line, matched against the\n"
         "full path such as /bgm/title.ogg; \"*.ogg\" matches in every folder).\n"
         "Blank lines are skipped. A _config.txt over 1 MiB or with more than\n"
         "65,536 patterns fails the pack.\n"
         "Entries whose path contains \".svn\" are left out.\n"
         "\n"
         "The archive is written beside ARCHIVE and moved into place when complete;\n"
         "on failure nothing is left at ARCHIVE.\n"
         "\n"
         "  -o ARCHIVE     the archive to write (replaced if it exists)\n"
         "  --verbose      print the builder's log: each file's offset and sizes\n"
         "  --recompress   deflate everything anew (no effect when packing a folder)\n"
         "  --skip-unrepresentable\n"
         "                 leave out files whose names have no Shift_JIS (code page 932)\n"
         "                 form, with a warning each, instead of refusing to pack\n"
         "  --strict       fail (status 1), writing nothing, when a name would not come\n"
         "                 out again; without it each such name is only warned about\n"
         "\n"
         "A name that epk2 extract and the updater refuse to write (a control\n"
         "character such as ESC, a backslash, a colon, a Windows device name such as\n"
         "NUL, a name ending in a dot or a blank) goes into the archive but never\n"
         "out of it, and so does a file below /_extract under one of the updater's\n"
         "own names (Tessavane.dat, Tessavane.tmp, ...). Each is named with a warning.\n"
         "\n"
         "Example: epk2 pack data -o Tessavane.dat --strict\n",
         {"--verbose", "--recompress", "--skip-unrepresentable", "--strict"},
         {"-o"},
         command_pack},
        {"merge",
         "merge a patch archive into a base archive",
         "Usage: epk2 merge PATCH BASE -o OUT [--verbose] [--recompress] [--check-base]\n"
         "\n"
         "Writes OUT with every entry of PATCH and the entries of BASE that PATCH\n"
         "does not hold; where both hold a file, PATCH's wins. PATCH's _config.txt\n"
         "decides which files stay uncompressed (as for pack: one over 1 MiB or\n"
         "with more than 65,536 patterns fails the merge). Entries already stored as\n"
         "OUT wants them are copied without inflating and deflating again; PATCH's\n"
         "copied entries are still inflated once to check them, BASE's are copied\n"
         "exactly as they lie (check them with --check-base, or epk2 verify).\n"
         "Entries whose stored name is empty (written so by some other writers of\n"
         "the format) are left out with a warning: no path names them, so nothing\n"
         "could read them, and two in one folder could not be told apart.\n"
         "\n"
         "  -o OUT         the archive to write (may be BASE itself: it is replaced\n"
         "                 only once the new archive is complete)\n"
         "  --verbose      print the builder's log\n"
         "  --recompress   inflate and deflate every entry anew\n"
         "  --check-base   also check BASE's copied entries; a damaged one fails the merge\n"
         "\n"
         "Example: epk2 merge Patch.dat Tessavane.dat -o Tessavane.new\n",
         {"--verbose", "--recompress", "--check-base"},
         {"-o"},
         command_merge},
        {"diff",
         "make the smallest patch from one version of the data to the next",
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
         "          epk2 diff old new --dry-run --json > changes.json\n",
         {"--strict", "--json", "--dry-run"},
         {"-o", "--version", "--attribute", "--extract"},
         command_diff},
        {"update",
         "apply a patch to an installed game, as the updater does",
         "Usage: epk2 update INSTALL_DIR [--patch PATCH] [--check]\n"
         "                   [--public-key NAME.pub]\n"
         "\n"
         "Does what the updater's dialog does for the game installed in INSTALL_DIR.\n"
         "It shows the version of INSTALL_DIR/Tessavane.dat and of the patch and\n"
         "decides, as the dialog does, whether the patch applies: the installed\n"
         "version must be older than the patch's (versions compare as decimal\n"
         "numbers: 1.9 is newer than 1.10) and both must have the same attribute.\n"
         "If so, it merges the patch into the data (the patch's files win), copies\n"
         "every file below /_extract of the result into INSTALL_DIR (sub-folders\n"
         "are not recreated) and then replaces Tessavane.dat in one step.\n"
         "\n"
         "The update is safe to interrupt: Tessavane.dat is replaced only once\n"
         "everything else has been written, so it always holds either the old or\n"
         "the new data; running the command again finishes the job.\n"
         "\n"
         "One update runs per install folder at a time: a second one waits two\n"
         "seconds for the first and then fails (status 2). The running update\n"
         "first takes its own snapshot of PATCH (Windows: the file itself, which\n"
         "no one may change while it is open; elsewhere a private copy) and then\n"
         "checks the signature, decides and merges from that snapshot alone, so a\n"
         "patch changed meanwhile is decided on anew (status 1 if it no longer\n"
         "applies) and never half applied.\n"
         "\n"
         "  --patch PATCH  the patch archive (default: Patch.dat beside epk2,\n"
         "                 where the dialog looks for it)\n"
         "  --check        show the versions and the decision; change nothing\n"
         "  --public-key NAME.pub\n"
         "                 apply the patch only if its publisher signed it, as an\n"
         "                 updater built with NAME.pub does: the signature beside\n"
         "                 PATCH (Patch.dat has Patch.sig; see epk2 sign) must be\n"
         "                 made by NAME.pub's private key over every byte of the\n"
         "                 snapshot, so the bytes checked are the bytes applied.\n"
         "\n"
         "Exit status: 0 the update completed, or none was needed; 1 the patch\n"
         "does not apply (the status line says why: a missing archive, another\n"
         "kind of data, or a signature that is missing or wrong); 2 the update\n"
         "failed (Tessavane.dat is left as it was), or the command line is wrong.\n"
         "\n"
         "Examples: epk2 update \"C:\\Games\\Tessavane\" --patch Patch.dat\n"
         "          epk2 update ~/tessavane --patch Patch.dat --check\n"
         "          epk2 update ~/tessavane --patch Patch.dat --public-key publisher.pub\n",
         {"--check"},
         {"--patch", "--public-key"},
         command_update},
        {"keygen",
         "make a key pair for signing patches",
         "Usage: epk2 keygen NAME\n"
         "\n"
         "Makes a new key pair for signing patches (ECDSA on the curve P-256):\n"
         "\n"
         "  NAME.key  the private key, readable by you alone. It signs patches\n"
         "            (epk2 sign). Keep it secret, backed up, and away from the\n"
         "            files you publish: whoever holds it can sign patches.\n"
         "  NAME.pub  the public key. Build the updater with it\n"
         "            (cmake -DTESSAVANE_PATCH_PUBLIC_KEY=NAME.pub) and it applies\n"
         "            only patches that NAME.key signed.\n"
         "\n"
         "keygen never replaces a file: when NAME.key or NAME.pub exists, it\n"
         "stops without writing anything.\n"
         "\n"
         "The files are PEM as OpenSSL writes them (PKCS#8 and SubjectPublicKeyInfo),\n"
         "so OpenSSL can make the same kind of pair:\n"
         "\n"
         "  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 \\\n"
         "          -out NAME.key\n"
         "  openssl pkey -in NAME.key -pubout -out NAME.pub\n"
         "\n"
         "Example: epk2 keygen publisher\n",
         {},
         {},
         command_keygen},
        {"sign",
         "sign an archive for updaters built with the public key",
         "Usage: epk2 sign ARCHIVE --key NAME.key\n"
         "\n"
         "Signs ARCHIVE with the private key NAME.key (see epk2 keygen) and writes\n"
         "the signature beside it: ARCHIVE without its extension plus \".sig\"\n"
         "(Patch.dat gets Patch.sig). Ship both files with the updater: built with\n"
         "NAME.pub, it applies the patch only when the signature matches every\n"
         "byte of it, and otherwise says that the patch's signature cannot be\n"
         "confirmed. Sign again after any change to ARCHIVE; an old signature is\n"
         "replaced only once the new one is complete.\n"
         "\n"
         "The signature is ECDSA P-256 over the archive's SHA-256, in DER: the\n"
         "file OpenSSL writes, so either tool checks the other's signatures:\n"
         "\n"
         "  openssl dgst -sha256 -sign NAME.key -out Patch.sig Patch.dat\n"
         "  openssl dgst -sha256 -verify NAME.pub -signature Patch.sig Patch.dat\n"
         "\n"
         "  --key NAME.key   the private key (PEM \"PRIVATE KEY\" or \"EC PRIVATE KEY\",\n"
         "                   not encrypted)\n"
         "\n"
         "Examples: epk2 sign Patch.dat --key publisher.key\n"
         "          epk2 verify Patch.dat --public-key publisher.pub\n",
         {},
         {"--key"},
         command_sign},
    };
    return commands;
}
