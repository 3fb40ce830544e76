#include "support/signature.h"

#include <cstring>

#include "support/key_encoding.h"

namespace {

// The parsed public key, taken by the system: a point off the curve is the
// key's fault, whatever the signature beside it.
SignatureResult public_key_of(const std::string& pem, P256PublicKey* key) {
    std::string why;
    if (!p256_public_key_from_pem(pem, key, &why)) {
        return signature_failure(SIGNATURE_BAD_KEY, why);
    }
    return signature_p256_check_point(*key);
}

// A private scalar does not linger in memory once used.
void wipe(void* data, size_t size) {
    volatile auto* bytes = static_cast<volatile uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

} // namespace

SignatureResult signature_check_public_key(const std::string& public_key_pem) {
    P256PublicKey key;
    return public_key_of(public_key_pem, &key);
}

SignatureResult signature_verify_digest(const std::string& public_key_pem,
                                        const SignatureDigest& digest,
                                        const std::vector<uint8_t>& der_signature) {
    P256PublicKey key;
    SignatureResult taken = public_key_of(public_key_pem, &key);
    if (!taken.ok()) {
        return taken;
    }
    if (der_signature.size() > SIGNATURE_FILE_MAX_SIZE) {
        return signature_failure(SIGNATURE_MALFORMED, "larger than 1 KiB: no signature");
    }
    uint8_t raw[P256_RAW_SIGNATURE_SIZE];
    std::string why;
    if (!ecdsa_signature_from_der(der_signature.data(), der_signature.size(), raw, &why)) {
        return signature_failure(SIGNATURE_MALFORMED, why);
    }
    return signature_p256_verify(key, digest, raw);
}

SignatureResult signature_verify_data(const std::string& public_key_pem, const void* data,
                                      size_t size, const std::vector<uint8_t>& der_signature) {
    SignatureDigest digest;
    if (!signature_digest(data, size, &digest)) {
        return signature_failure(SIGNATURE_SYSTEM_FAILED,
                                 std::string(signature_system_name()) + " cannot compute SHA-256");
    }
    return signature_verify_digest(public_key_pem, digest, der_signature);
}

SignatureResult signature_sign_digest(const std::string& private_key_pem,
                                      const SignatureDigest& digest,
                                      std::vector<uint8_t>* der_signature) {
    P256PrivateKey key;
    std::string why;
    if (!p256_private_key_from_pem(private_key_pem, &key, &why)) {
        wipe(&key, sizeof key);
        return signature_failure(SIGNATURE_BAD_KEY, why);
    }
    uint8_t raw[P256_RAW_SIGNATURE_SIZE];
    SignatureResult made = signature_p256_sign(key, digest, raw);
    wipe(&key, sizeof key);
    if (made.ok()) {
        *der_signature = ecdsa_signature_to_der(raw);
    }
    return made;
}

SignatureResult signature_generate_key(std::string* private_key_pem, std::string* public_key_pem) {
    P256PrivateKey key;
    SignatureResult made = signature_p256_generate(&key);
    if (made.ok()) {
        *private_key_pem = p256_private_key_to_pem(key);
        *public_key_pem = p256_public_key_to_pem(key.public_key);
    }
    wipe(&key, sizeof key);
    return made;
}
