#include <cctype>

#include "cli/arguments.h"
#include "cli/console_text.h"
#include "cli/keys.h"
#include "cli/message_capture.h"
#include "cli/terminal_view.h"
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

} // namespace

int command_update(const Arguments& args, Console& console) {
    if (args.positional.size() != 1) {
        print_error(console, "update: give exactly one INSTALL_DIR (see epk2 update --help)");
        return EXIT_USAGE;
    }
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
