// The publisher's signature of a patch: "Patch.sig" beside "Patch.dat", the
// DER file of "openssl dgst -sha256 -sign" (see support/signature.h). The
// patch is hashed through the handle it is read through, so that the bytes
// checked are the bytes merged.
#pragma once

#include <string>
#include <vector>

#include "support/signature.h"

struct SharedFile;

// The patch's path without its extension, plus ".sig" ("a/Patch.dat" gives
// "a/Patch.sig", "a/Patch" gives "a/Patch.sig"). Code page 932.
std::string patch_signature_path(const std::string& patch_path);

// SHA-256 of the whole file, read through its handle. False, with why, when
// it cannot be read to its end or its size is no longer what it was when it
// was opened.
bool digest_shared_file(SharedFile* file, SignatureDigest* digest, std::string* why);

// Reads a signature file: at most SIGNATURE_FILE_MAX_SIZE bytes of a
// regular file. False, with why (naming the file), when it is missing,
// empty, too large or unreadable.
bool read_signature_file(const std::string& path, std::vector<uint8_t>* signature,
                         std::string* why);

// Checks the signature file of the patch at patch_path against the patch's
// bytes as patch holds them, with the publisher's public key (PEM text).
// True when the publisher signed exactly these bytes; otherwise why says
// what is wrong and names the file at fault (the signature, or "the
// publisher's key").
bool patch_signature_check(const std::string& public_key_pem, SharedFile* patch,
                           const std::string& patch_path, std::string* why);
