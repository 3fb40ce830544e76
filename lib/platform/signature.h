// Signatures of the patch publisher: ECDSA over P-256 with SHA-256, keys and
// signatures in the forms OpenSSL reads and writes (platform/key_encoding.h):
//
//   openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out NAME.key
//   openssl pkey -in NAME.key -pubout -out NAME.pub
//   openssl dgst -sha256 -sign NAME.key -out Patch.sig Patch.dat
//   openssl dgst -sha256 -verify NAME.pub -signature Patch.sig Patch.dat
//
// The arithmetic is the operating system's: lib/platform/posix uses OpenSSL's
// libcrypto, lib/platform/win32 Windows' CNG (bcrypt.dll, loaded from the
// system folder only). Both give the same answers and the same reasons for
// the same inputs; a key or signature is parsed here before either sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

constexpr size_t SIGNATURE_DIGEST_SIZE = 32;

struct SignatureDigest {
    uint8_t bytes[SIGNATURE_DIGEST_SIZE];
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

// SHA-256 over data handed in pieces. Null when the system offers none.
struct SignatureHasher;
SignatureHasher* signature_hasher_create();
bool signature_hasher_update(SignatureHasher* hasher, const void* data, size_t size);
// Ends the hash; the hasher is then only good for destroying.
bool signature_hasher_finish(SignatureHasher* hasher, SignatureDigest* digest);
void signature_hasher_destroy(SignatureHasher* hasher);
// The digest of bytes held in memory.
bool signature_digest(const void* data, size_t size, SignatureDigest* digest);

// Checks that der_signature (the content of a .sig file) is the signature
// that the holder of the private key made over the bytes whose digest is
// given; public_key_pem is the text of the .pub file.
SignatureResult signature_verify_digest(const std::string& public_key_pem,
                                        const SignatureDigest& digest,
                                        const std::vector<uint8_t>& der_signature);
// The same over bytes held in memory.
SignatureResult signature_verify_data(const std::string& public_key_pem, const void* data,
                                      size_t size, const std::vector<uint8_t>& der_signature);

// The key check of signature_verify_digest alone: the text is a P-256 public
// key the system takes.
SignatureResult signature_check_public_key(const std::string& public_key_pem);

// Signs a digest with the private key of private_key_pem (the .key file):
// der_signature receives what "openssl dgst -sha256 -sign" would write.
SignatureResult signature_sign_digest(const std::string& private_key_pem,
                                      const SignatureDigest& digest,
                                      std::vector<uint8_t>* der_signature);

// Makes a new key pair: the private key as PKCS#8 PEM, the public key as
// SubjectPublicKeyInfo PEM.
SignatureResult signature_generate_key(std::string* private_key_pem, std::string* public_key_pem);

// ---------------------------------------------------------------------------
// Key files

// Creates a new file for a private key, for reading and writing: never over
// anything that exists (a dangling link included), never through a link, and
// readable and writable by its owner alone (mode 0600; on Windows a
// protected access list that grants the current user alone). Returns
// PLATFORM_INVALID_FILE on failure, with the system's error code kept.
PlatformFile signature_key_file_create(const char* path);
