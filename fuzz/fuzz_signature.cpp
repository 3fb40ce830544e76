// The readers of the publisher's files: public and private key PEM texts,
// DER signatures, base64, and the whole check of a patch's signature file.
// Whatever a parser takes must read back the same after being written out,
// the operating system's checks must agree with the parsers' verdicts, and
// nothing a stranger writes may ever verify.
//
// Input: one byte choosing the route, then the bytes of the route:
//   0 a public key text     1 a private key text     2 a DER signature
//   3 base64 text           4 a signature file beside a patch
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "stream/file_handles.h"
#include "support/key_encoding.h"
#include "support/signature.h"
#include "update/patch_signature.h"

namespace {

struct Fixed {
    std::string private_pem, public_pem;
    SignatureDigest digest;
    std::vector<uint8_t> signature; // of digest, with private_pem
    std::string patch_path;
};

const Fixed& fixed() {
    static const Fixed f = [] {
        Fixed made;
        if (!signature_generate_key(&made.private_pem, &made.public_pem).ok()) {
            fuzz_fail("no key pair could be made");
        }
        const char patch[] = "the patch the fuzzer signs";
        signature_digest(patch, sizeof patch - 1, &made.digest);
        if (!signature_sign_digest(made.private_pem, made.digest, &made.signature).ok()) {
            fuzz_fail("the fixed key does not sign");
        }
        std::string folder = fuzz_temp_dir("signature");
        made.patch_path = folder + "/Patch.dat";
        fuzz_temp_register(made.patch_path);
        fuzz_temp_register(folder + "/Patch.sig");
        if (!fuzz_write_file(made.patch_path, patch, sizeof patch - 1)) {
            fuzz_fail("cannot write %s", made.patch_path.c_str());
        }
        return made;
    }();
    return f;
}

void public_key_route(const std::string& text) {
    P256PublicKey key;
    std::string why;
    const bool parsed = p256_public_key_from_pem(text, &key, &why);
    if (!parsed && why.empty()) {
        fuzz_fail("a public key was refused without a reason");
    }
    SignatureResult system = signature_check_public_key(text);
    if (!parsed && system.status != SIGNATURE_BAD_KEY) {
        fuzz_fail("the system took a public key the parser refused: %s", why.c_str());
    }
    if (!parsed) {
        return;
    }
    P256PublicKey again;
    if (!p256_public_key_from_pem(p256_public_key_to_pem(key), &again, &why) ||
        std::memcmp(again.point, key.point, P256_POINT_SIZE) != 0) {
        fuzz_fail("a public key does not read back as written: %s", why.c_str());
    }
    // A key that is not the fixed one never verifies the fixed signature.
    if (p256_public_key_to_pem(key) != fixed().public_pem &&
        signature_verify_digest(text, fixed().digest, fixed().signature).ok()) {
        fuzz_fail("another key verified the fixed signature");
    }
}

void private_key_route(const std::string& text) {
    P256PrivateKey key;
    std::string why;
    const bool parsed = p256_private_key_from_pem(text, &key, &why);
    std::vector<uint8_t> signature;
    SignatureResult signed_ = signature_sign_digest(text, fixed().digest, &signature);
    if (!parsed && signed_.status != SIGNATURE_BAD_KEY) {
        fuzz_fail("a private key the parser refused was used to sign: %s", why.c_str());
    }
    if (!parsed) {
        return;
    }
    P256PrivateKey again;
    if (!p256_private_key_from_pem(p256_private_key_to_pem(key), &again, &why) ||
        std::memcmp(&again, &key, sizeof key) != 0) {
        fuzz_fail("a private key does not read back as written: %s", why.c_str());
    }
    uint8_t raw[P256_RAW_SIGNATURE_SIZE];
    if (signed_.ok() && !ecdsa_signature_from_der(signature.data(), signature.size(), raw, &why)) {
        fuzz_fail("the system signed with a signature the parser refuses: %s", why.c_str());
    }
}

void signature_route(const uint8_t* data, size_t size) {
    uint8_t raw[P256_RAW_SIGNATURE_SIZE];
    std::string why;
    const bool parsed = ecdsa_signature_from_der(data, size, raw, &why);
    if (parsed) {
        // Strict DER has one form: writing it out gives the input back.
        Bytes written = ecdsa_signature_to_der(raw);
        if (written.size() != size || std::memcmp(written.data(), data, size) != 0) {
            fuzz_fail("a signature of %zu bytes reads back as %zu other bytes", size,
                      written.size());
        }
    }
    SignatureResult checked = signature_verify_digest(fixed().public_pem, fixed().digest,
                                                      std::vector<uint8_t>(data, data + size));
    if (checked.ok()) {
        fuzz_fail("bytes nobody signed with the fixed key verified");
    }
    if (parsed != (checked.status != SIGNATURE_MALFORMED)) {
        fuzz_fail("the parser and the check disagree on a signature: %s / %s", why.c_str(),
                  checked.reason.c_str());
    }
}

void base64_route(const std::string& text) {
    Bytes decoded;
    if (!base64_decode(text, &decoded)) {
        return;
    }
    Bytes again;
    if (!base64_decode(base64_encode(decoded.data(), decoded.size()), &again) || again != decoded) {
        fuzz_fail("base64 does not read back as written");
    }
}

void signature_file_route(const uint8_t* data, size_t size) {
    const Fixed& f = fixed();
    const std::string signature_path = patch_signature_path(f.patch_path);
    if (!fuzz_write_file(signature_path, data, size)) {
        fuzz_fail("cannot write %s", signature_path.c_str());
    }
    SharedFile* patch = shared_file_open(f.patch_path.c_str(), nullptr);
    std::string why;
    bool accepted = patch_signature_check(f.public_pem, patch, f.patch_path, &why);
    shared_file_release(patch);
    if (accepted) {
        fuzz_fail("a signature file nobody signed was accepted");
    }
    if (why.find(signature_path) == std::string::npos) {
        fuzz_fail("the refusal does not name the signature file: %s", why.c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_quiet_messages();
    fixed();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 8192) {
        return 0;
    }
    const uint8_t route = data[0] % 5;
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    const std::string text(reinterpret_cast<const char*>(body), length);
    switch (route) {
    case 0:
        public_key_route(text);
        break;
    case 1:
        private_key_route(text);
        break;
    case 2:
        signature_route(body, length);
        break;
    case 3:
        base64_route(text);
        break;
    default:
        signature_file_route(body, length);
        break;
    }
    return 0;
}
