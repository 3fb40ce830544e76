#include <cstring>

#include "console_text.h"
#include "platform/key_encoding.h"
#include "platform/platform.h"
#include "platform/signature.h"
#include "signing.h"
#include "stream/work_file.h"
#include "tool_support.h"
#include "update/patch_signature.h"

namespace {

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

} // namespace

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

int command_keygen(const Arguments& args, Console& console) {
    if (args.positional.size() != 1) {
        print_error(console, "keygen: give exactly one NAME (see epk2 keygen --help)");
        return EXIT_USAGE;
    }
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

int command_sign(const Arguments& args, Console& console) {
    if (!args.has("--key")) {
        print_error(console, "sign: give the private key with --key NAME.key "
                             "(see epk2 sign --help)");
        return EXIT_USAGE;
    }
    int status = EXIT_USAGE;
    FileSystemPtr fs = open_sole_archive(args, console, "sign", status);
    if (!fs) {
        return status;
    }
    std::string private_pem;
    if (!read_key_file(console, "sign", args.value("--key"), &private_pem)) {
        return EXIT_USAGE;
    }
    P256PrivateKey key;
    std::string why;
    if (!p256_private_key_from_pem(private_pem, &key, &why)) {
        print_error(console, "sign: " + args.value("--key") + ": " + why);
        return EXIT_USAGE;
    }
    std::string archive_path;
    argument_to_library(console, args.positional[0], archive_path);
    SignatureDigest digest;
    if (!digest_shared_file(archive_shared_file(fs.get()), &digest, &why)) {
        print_error(console, "sign: " + args.positional[0] + ": " + why);
        return EXIT_USAGE;
    }
    std::vector<uint8_t> signature;
    SignatureResult signed_ = signature_sign_digest(private_pem, digest, &signature);
    std::memset(private_pem.data(), 0, private_pem.size());
    if (!signed_.ok()) {
        print_error(console, "sign: " + args.value("--key") + ": " + signed_.reason);
        return EXIT_USAGE;
    }
    // The key file's public half must be the one its private key makes, or
    // the signature would fail wherever the .pub made with it is used.
    SignatureResult checked =
        signature_verify_digest(p256_public_key_to_pem(key.public_key), digest, signature);
    std::memset(key.scalar, 0, sizeof key.scalar);
    if (!checked.ok()) {
        print_error(console, "sign: " + args.value("--key") +
                                 ": its public key does not belong to its private key");
        return EXIT_USAGE;
    }

    // Written beside and moved into place: an interrupted sign leaves the
    // old signature, never a part of a new one.
    const std::string signature_path = patch_signature_path(archive_path);
    WorkFile work;
    uint32_t size = static_cast<uint32_t>(signature.size());
    if (!work_file_create(&work, signature_path.c_str())) {
        print_error(console,
                    "sign: " + to_console(signature_path) + ": cannot be written: " + os_reason());
        return EXIT_USAGE;
    }
    if (platform_file_write_at(work.file, 0, signature.data(), size) != size ||
        !work_file_commit(&work)) {
        std::string reason = os_reason();
        work_file_discard(&work);
        print_error(console,
                    "sign: " + to_console(signature_path) + ": cannot be written: " + reason);
        return EXIT_USAGE;
    }
    std::fprintf(console.out, "%s: signature of %s (%u bytes)\n",
                 to_console(signature_path).c_str(),
                 to_console_from_terminal(args.positional[0]).c_str(), size);
    return EXIT_OK;
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
