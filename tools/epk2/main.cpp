// The epk2 command line: its commands, in the order "epk2 --help" lists them.
#include "epk2.h"

#include "commands/commands.h"

namespace {

const char* const TOOL_HELP_HEAD =
    "epk2 - make, inspect and update EPK2 game-data archives\n"
    "\n"
    "Usage: epk2 COMMAND [OPTIONS] ARGUMENTS...\n"
    "       epk2 COMMAND --help     (what a command does, with examples)\n"
    "\n"
    "Commands:\n";

const char* const TOOL_HELP_TAIL =
    "\n"
    "Exit status: 0 success; 1 an archive is damaged (or an update was refused);\n"
    "2 a usage or input/output error.\n"
    "\n"
    "Names inside archives are Shift_JIS (code page 932); on Linux they are shown\n"
    "and given in UTF-8 and converted on the way.\n";

const Command COMMANDS[] = {
    {"list", "list every entry of an archive", LIST_COMMAND},
    {"extract", "recreate an archive's tree in a folder", EXTRACT_COMMAND},
    {"cat", "write one entry's content to standard output", CAT_COMMAND},
    {"verify", "check the layout, read every entry, report what is wrong", VERIFY_COMMAND},
    {"info", "show the header figures and the version information", INFO_COMMAND},
    {"pack", "pack a folder into a new archive", PACK_COMMAND},
    {"merge", "merge a patch archive into a base archive", MERGE_COMMAND},
    {"diff", "make the smallest patch from one version of the data to the next", DIFF_COMMAND},
    {"update", "apply a patch to an installed game, as the updater does", UPDATE_COMMAND},
    {"keygen", "make a key pair for signing patches", KEYGEN_COMMAND},
    {"sign", "sign an archive for updaters built with the public key", SIGN_COMMAND},
};

const ToolDefinition TOOL = {
    .help_head = TOOL_HELP_HEAD,
    .help_tail = TOOL_HELP_TAIL,
    .version = "epk2 1.0\n",
    .commands = COMMANDS,
};

} // namespace

std::span<const Command> epk2_commands() {
    return TOOL.commands;
}

int epk2_main(int argc, char** argv, Console& console) {
    return cli_run(TOOL, argc, argv, console);
}
