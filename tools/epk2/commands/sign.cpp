#include <cstring>

#include "cli/cli.h"
#include "commands/commands.h"
#include "platform/platform.h"
#include "stream/work_file.h"
#include "support/key_encoding.h"
#include "support/signature.h"
#include "update/patch_signature.h"

namespace {

const char* const HELP =
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
    "          epk2 verify Patch.dat --public-key publisher.pub\n";

int command_sign(const Arguments& args, Console& console) {
    FileSystemPtr fs;
    if (int status = open_first_archive(args, console, fs)) {
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

} // namespace

const CommandDefinition SIGN_COMMAND = {
    .help = HELP,
    .flags = {},
    .valued = {"--key"},
    .needs = {.least = 1,
              .most = 1,
              .give = "exactly one ARCHIVE",
              .option = "--key",
              .give_option = "the private key with --key NAME.key"},
    .run = command_sign,
};
