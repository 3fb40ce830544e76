#include <cctype>

#include "cli/cli.h"
#include "commands/commands.h"
#include "support/signature.h"
#include "update/update_paths.h"
#include "update/update_texts.h"

namespace {

void print_line(Console& console, const char* label, const std::string& cp932) {
    std::fprintf(console.out, "%-10s %s\n", label, to_console(cp932).c_str());
}

void print_versions(Console& console, const TerminalView& view) {
    print_line(console, "installed:", view.text(CONTROL_INSTALLED_VERSION));
    print_line(console, "patch:", view.text(CONTROL_PATCH_VERSION));
}

int command_update(const Arguments& args, Console& console) {
    std::string install_folder;
    std::string patch;
    if (!argument_to_library(console, args.positional[0], install_folder) ||
        (args.has("--patch") && !argument_to_library(console, args.value("--patch"), patch))) {
        return EXIT_USAGE;
    }
    if (args.has("--patch") && (patch.empty() || is_updater_file(patch))) {
        print_error(console, "update: --patch names no usable patch archive");
        return EXIT_USAGE;
    }
    if (install_folder.size() >= UPDATE_PATH_SIZE) {
        print_error(console, "update: INSTALL_DIR is longer than 259 bytes");
        return EXIT_USAGE;
    }
    std::string public_key;
    if (args.has("--public-key") &&
        !read_key_file(console, "update", args.value("--public-key"), &public_key)) {
        return EXIT_USAGE;
    }
    // A key file that holds no usable key refuses every patch, as an updater
    // built with it would; the reason is the key's, not the patch's.
    bool key_usable = true;
    if (args.has("--public-key")) {
        SignatureResult key = signature_check_public_key(public_key);
        if (!key.ok()) {
            print_error(console, "update: " + args.value("--public-key") + ": " + key.reason);
            key_usable = false;
        }
    }

    // The archive reader's own messages are not for the user: the status
    // line says what went wrong.
    MessageCapture quiet;
    TerminalView view(console, install_folder, patch);
    view.set_public_key(key_usable ? public_key : std::string());
    refresh_versions(&view);
    if (!key_usable) {
        view.set_text(CONTROL_STATUS, TEXT_SIGNATURE_UNVERIFIED);
        view.enable_action(false);
        ActionMode = ACTION_MODE_UPDATE;
    }
    print_versions(console, view);
    print_line(console, "status:", view.text(CONTROL_STATUS));
    if (ActionMode == ACTION_MODE_LAUNCH) {
        return EXIT_OK; // nothing to do: the data are up to date
    }
    if (!view.action_enabled()) {
        return EXIT_DAMAGED; // refused; the status line says why
    }
    if (args.has("--check")) {
        return EXIT_OK;
    }

    UpdateSteps steps = default_update_steps();
    steps.merge_log = nullptr; // the bar shows the progress
    // The update decides again from its own snapshot of the patch; a patch
    // changed since the check above may be refused now, for the same
    // reasons as there.
    bool completed = run_update(&view, steps);
    view.finish_progress();
    print_line(console, "status:", view.text(CONTROL_STATUS));
    if (!completed) {
        const bool refused = ActionMode == ACTION_MODE_LAUNCH || !view.action_enabled();
        if (refused) {
            print_versions(console, view);
        }
        return refused ? EXIT_DAMAGED : EXIT_USAGE;
    }
    print_versions(console, view);
    return EXIT_OK;
}

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
