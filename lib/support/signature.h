// Signatures of the patch publisher: ECDSA over P-256 with SHA-256, keys and
// signatures in the forms OpenSSL reads and writes (support/key_encoding.h):
//
//   openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out NAME.key
//   openssl pkey -in NAME.key -pubout -out NAME.pub
//   openssl dgst -sha256 -sign NAME.key -out Patch.sig Patch.dat
//   openssl dgst -sha256 -verify NAME.pub -signature Patch.sig Patch.dat
//
// The texts are parsed here, once, so that both builds refuse the same
// inputs with the same words; the arithmetic and SHA-256 are the operating
// system's (platform/signature.h, whose digest, hasher and key file this
// header passes on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/signature.h"

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
