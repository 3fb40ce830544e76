#include "cli/cli.h"

#include "archive/archive_fs.h"
#include "platform/platform.h"
#include "support/key_encoding.h"
#include "support/signature.h"
#include "update/patch_signature.h"

bool read_key_file(Console& console, const char* command, const std::string& argument,
                   std::string* text) {
    std::string path;
    if (!argument_to_library(console, argument, path)) {
        return false;
    }
    std::string prefix = std::string(command) + ": " + argument + ": ";
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    if (file == PLATFORM_INVALID_FILE) {
        print_error(console, prefix + "cannot be opened: " + os_reason());
        return false;
    }
    uint32_t low = 0, high = 0;
    bool read = false;
    if (!platform_file_size(file, &low, &high)) {
        print_error(console, prefix + "cannot be read: " + os_reason());
    } else if (high != 0 || low > KEY_FILE_MAX_SIZE) {
        print_error(console, prefix + "larger than 64 KiB: not a key file");
    } else {
        text->assign(low, '\0');
        read = platform_file_read_at(file, 0, text->data(), low) == low;
        if (!read) {
            print_error(console, prefix + "cannot be read: " + os_reason());
        }
    }
    platform_file_close(file);
    return read;
}

int verify_archive_signature(const Arguments& args, Console& console, FileSystem* archive) {
    if (!args.has("--public-key")) {
        return EXIT_OK;
    }
    std::string public_pem;
    if (!read_key_file(console, "verify", args.value("--public-key"), &public_pem)) {
        return EXIT_USAGE;
    }
    SignatureResult key = signature_check_public_key(public_pem);
    if (!key.ok()) {
        print_error(console, "verify: " + args.value("--public-key") + ": " + key.reason);
        return EXIT_DAMAGED;
    }
    std::string archive_path;
    argument_to_library(console, args.positional[0], archive_path);
    std::string why;
    if (!patch_signature_check(public_pem, archive_shared_file(archive), archive_path, &why)) {
        print_error(console, "verify: " + to_console(why));
        return EXIT_DAMAGED;
    }
    std::fprintf(console.out, "%s: signed by the publisher (%s)\n",
                 to_console_from_terminal(args.positional[0]).c_str(),
                 to_console(patch_signature_path(archive_path)).c_str());
    return EXIT_OK;
}
