// The operating system's side of the publisher's signatures: SHA-256, and
// ECDSA over NIST P-256 on raw key bytes. lib/platform/posix uses OpenSSL's
// libcrypto, lib/platform/win32 Windows' CNG (bcrypt.dll, loaded from the
// system folder only). Both give the same answers for the same inputs.
//
// Keys and signatures arrive here already parsed (support/key_encoding.h
// reads their PEM and DER once, for both back ends), and the texts users
// handle are made and checked in support/signature.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/platform.h"

constexpr size_t SIGNATURE_DIGEST_SIZE = 32;
constexpr size_t P256_SCALAR_SIZE = 32;
constexpr size_t P256_POINT_SIZE = 65;         // 0x04, X, Y
constexpr size_t P256_RAW_SIGNATURE_SIZE = 64; // r, s: 32 bytes each, big-endian

struct SignatureDigest {
    uint8_t bytes[SIGNATURE_DIGEST_SIZE];
};

// An uncompressed point, as a public key holds it.
struct P256PublicKey {
    uint8_t point[P256_POINT_SIZE];
};
// The big-endian private scalar beside its public point.
struct P256PrivateKey {
    uint8_t scalar[P256_SCALAR_SIZE];
    P256PublicKey public_key;
};

enum SignatureStatus {
    SIGNATURE_OK,
    SIGNATURE_BAD_KEY,       // the key text is no usable P-256 key
    SIGNATURE_MALFORMED,     // the signature bytes are no DER P-256 signature
    SIGNATURE_MISMATCH,      // well formed, but not made by this key over these bytes
    SIGNATURE_SYSTEM_FAILED, // the operating system's cryptography failed
};

// What a check or an operation found; reason is empty for SIGNATURE_OK and
// otherwise says in words what is wrong, without naming a file (the caller
// knows which file it read).
struct SignatureResult {
    SignatureStatus status = SIGNATURE_OK;
    std::string reason;
    bool ok() const { return status == SIGNATURE_OK; }
};

// A result that is not SIGNATURE_OK, with its reason in words.
inline SignatureResult signature_failure(SignatureStatus status, std::string reason) {
    SignatureResult r;
    r.status = status;
    r.reason = std::move(reason);
    return r;
}

// The cryptography's name as a failure reason starts with it: "OpenSSL",
// "Windows' cryptography (bcrypt.dll)".
const char* signature_system_name();

// SHA-256 over data handed in pieces. Null when the system offers none.
struct SignatureHasher;
SignatureHasher* signature_hasher_create();
bool signature_hasher_update(SignatureHasher* hasher, const void* data, size_t size);
// Ends the hash; the hasher is then only good for destroying.
bool signature_hasher_finish(SignatureHasher* hasher, SignatureDigest* digest);
void signature_hasher_destroy(SignatureHasher* hasher);
// The digest of bytes held in memory.
bool signature_digest(const void* data, size_t size, SignatureDigest* digest);

// SIGNATURE_BAD_KEY when the system does not take the point as a P-256
// public key (one off the curve, where the system checks that on import).
SignatureResult signature_p256_check_point(const P256PublicKey& key);
// Whether raw (r || s) was made over digest by the holder of key's private
// scalar: SIGNATURE_OK, SIGNATURE_BAD_KEY as above, SIGNATURE_MISMATCH for
// any signature that does not verify (r or s beyond the group order
// included), SIGNATURE_SYSTEM_FAILED.
SignatureResult signature_p256_verify(const P256PublicKey& key, const SignatureDigest& digest,
                                      const uint8_t raw[P256_RAW_SIGNATURE_SIZE]);
// Signs digest; raw receives r || s. SIGNATURE_BAD_KEY when the system does
// not take the pair.
SignatureResult signature_p256_sign(const P256PrivateKey& key, const SignatureDigest& digest,
                                    uint8_t raw[P256_RAW_SIGNATURE_SIZE]);
// A new key pair from the system's random source.
SignatureResult signature_p256_generate(P256PrivateKey* key);

// ---------------------------------------------------------------------------
// Key files

// Creates a new file for a private key, for reading and writing: never over
// anything that exists (a dangling link included), never through a link, and
// readable and writable by its owner alone (mode 0600; on Windows a
// protected access list that grants the current user alone). Returns
// PLATFORM_INVALID_FILE on failure, with the system's error code kept.
PlatformFile signature_key_file_create(const char* path);
