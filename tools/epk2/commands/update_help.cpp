#include "commands/commands.h"

// The command's body lies in tools/epk2/cmd_update.cpp for now.
int command_update(const Arguments& args, Console& console);

namespace {

const char* const HELP =
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
    "          epk2 update ~/tessavane --patch Patch.dat --public-key publisher.pub\n";

} // namespace

const CommandDefinition UPDATE_COMMAND = {
    .help = HELP,
    .flags = {"--check"},
    .valued = {"--patch", "--public-key"},
    .needs = {.least = 1, .most = 1, .give = "exactly one INSTALL_DIR"},
    .run = command_update,
};
