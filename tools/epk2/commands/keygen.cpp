#include <cstring>

#include "cli/cli.h"
#include "commands/commands.h"
#include "platform/platform.h"
#include "support/signature.h"

namespace {

const char* const HELP =
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
    "Example: epk2 keygen publisher\n";

// A new file made for keygen, removed again unless the command completes.
class NewFile {
  public:
    ~NewFile() {
        if (file_ != PLATFORM_INVALID_FILE) {
            platform_interrupt_cleanup_remove(slot_);
            platform_file_discard(file_, path_.c_str());
        }
    }
    bool create(const std::string& path, bool private_key) {
        path_ = path;
        file_ = private_key ? signature_key_file_create(path.c_str())
                            : platform_file_create_new(path.c_str());
        if (file_ != PLATFORM_INVALID_FILE) {
            slot_ = platform_interrupt_cleanup_add(file_, path.c_str());
        }
        return file_ != PLATFORM_INVALID_FILE;
    }
    bool write(const std::string& text) {
        uint32_t size = static_cast<uint32_t>(text.size());
        return platform_file_write_at(file_, 0, text.data(), size) == size &&
               platform_file_sync(file_);
    }
    // Keeps the file.
    void keep() {
        platform_interrupt_cleanup_remove(slot_);
        platform_file_close(file_);
        file_ = PLATFORM_INVALID_FILE;
    }

  private:
    std::string path_;
    PlatformFile file_ = PLATFORM_INVALID_FILE;
    int slot_ = -1;
};

// A name is taken by anything under it, a dangling link included.
bool name_taken(const std::string& path) {
    return platform_file_exists(path.c_str()) || platform_path_is_link(path.c_str());
}

int command_keygen(const Arguments& args, Console& console) {
    std::string name;
    if (!argument_to_library(console, args.positional[0], name)) {
        return EXIT_USAGE;
    }
    const std::string key_path = name + ".key";
    const std::string public_path = name + ".pub";
    for (const std::string& path : {key_path, public_path}) {
        if (name_taken(path)) {
            print_error(console, "keygen: " + to_console(path) +
                                     " already exists; keygen never replaces a key");
            return EXIT_USAGE;
        }
    }
    std::string private_pem, public_pem;
    SignatureResult made = signature_generate_key(&private_pem, &public_pem);
    if (!made.ok()) {
        print_error(console, "keygen: " + made.reason);
        return EXIT_USAGE;
    }
    // Both files are new (created exclusively); a failure removes both.
    NewFile key_file, public_file;
    auto make = [&](NewFile& file, const std::string& path, const std::string& text, bool secret) {
        if (!file.create(path, secret)) {
            print_error(console,
                        "keygen: " + to_console(path) + ": cannot be created: " + os_reason());
            return false;
        }
        if (!file.write(text)) {
            print_error(console,
                        "keygen: " + to_console(path) + ": cannot be written: " + os_reason());
            return false;
        }
        return true;
    };
    if (!make(key_file, key_path, private_pem, true) ||
        !make(public_file, public_path, public_pem, false)) {
        return EXIT_USAGE;
    }
    key_file.keep();
    public_file.keep();
    std::memset(private_pem.data(), 0, private_pem.size());
    std::fprintf(console.out,
                 "%s: the private key (readable by you alone): signs patches; keep it secret\n"
                 "%s: the public key: build the updater with it\n",
                 to_console(key_path).c_str(), to_console(public_path).c_str());
    return EXIT_OK;
}

} // namespace

const CommandDefinition KEYGEN_COMMAND = {
    .help = HELP,
    .flags = {},
    .valued = {},
    .needs = {.least = 1, .most = 1, .give = "exactly one NAME"},
    .run = command_keygen,
};
