// The text and byte forms of the publisher's keys and signatures, as OpenSSL
// writes them: ECDSA over NIST P-256 (prime256v1) with SHA-256.
//
//   public key   PEM "PUBLIC KEY": a DER SubjectPublicKeyInfo holding the
//                uncompressed point 0x04 || X || Y
//   private key  PEM "PRIVATE KEY": a DER PKCS#8 PrivateKeyInfo holding an
//                ECPrivateKey (RFC 5915) with its public point; the SEC1
//                form "EC PRIVATE KEY" of "openssl ecparam -genkey" reads too
//   signature    a DER ECDSA-Sig-Value SEQUENCE { INTEGER r, INTEGER s }, the
//                file "openssl dgst -sha256 -sign" writes
//
// Only encoding lives here: base64, PEM armour, a strict DER reader and
// writer, and the conversion between the DER signature and the 64-byte r || s
// that both back ends of platform/signature.h take. The arithmetic is the
// operating system's. Every parser is strict (minimal lengths, minimal
// integers, nothing after the end) and says in words what it found instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/signature.h"

// A signature file longer than this is no signature (a DER P-256 one has at
// most 72 bytes).
constexpr size_t SIGNATURE_FILE_MAX_SIZE = 1024;
// A key file longer than this is no key.
constexpr size_t KEY_FILE_MAX_SIZE = 64 * 1024;

using Bytes = std::vector<uint8_t>;

std::string base64_encode(const uint8_t* data, size_t size);
// Decodes base64 with "=" padding, skipping white space; false for any other
// character or a misplaced "=".
bool base64_decode(const std::string& text, Bytes* out);

// The PEM block "-----BEGIN label-----", the base64 in lines of 64
// characters, "-----END label-----", each line ending in "\n".
std::string pem_encode(const char* label, const Bytes& der);
// The contents of the first block of text whose label is one of labels
// (text before, between and after blocks is skipped, as OpenSSL skips it).
// found_label says which. False with why when there is none, naming the
// blocks that were there instead.
bool pem_decode(const std::string& text, const std::vector<std::string>& labels,
                std::string* found_label, Bytes* der, std::string* why);

bool p256_public_key_from_der(const uint8_t* der, size_t size, P256PublicKey* key,
                              std::string* why);
Bytes p256_public_key_to_der(const P256PublicKey& key);
// A "PUBLIC KEY" PEM text (the .pub file).
bool p256_public_key_from_pem(const std::string& text, P256PublicKey* key, std::string* why);
std::string p256_public_key_to_pem(const P256PublicKey& key);

// PKCS#8 ("PRIVATE KEY") or SEC1 ("EC PRIVATE KEY"); the public point must
// be present, as OpenSSL writes it.
bool p256_private_key_from_der(const uint8_t* der, size_t size, bool pkcs8, P256PrivateKey* key,
                               std::string* why);
Bytes p256_private_key_to_der(const P256PrivateKey& key); // PKCS#8
bool p256_private_key_from_pem(const std::string& text, P256PrivateKey* key, std::string* why);
std::string p256_private_key_to_pem(const P256PrivateKey& key);

// DER ECDSA-Sig-Value to r || s and back. Refuses zero or over-long
// integers, non-minimal forms and trailing bytes.
bool ecdsa_signature_from_der(const uint8_t* der, size_t size, uint8_t raw[P256_RAW_SIGNATURE_SIZE],
                              std::string* why);
Bytes ecdsa_signature_to_der(const uint8_t raw[P256_RAW_SIGNATURE_SIZE]);
