#include "update/patch_signature.h"

#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "stream/file_handles.h"
#include "support/key_encoding.h"

namespace {

// Read blocks of the patch while hashing it.
constexpr uint32_t DIGEST_BLOCK = 1u << 20;

struct HasherDestroy {
    void operator()(SignatureHasher* hasher) const { signature_hasher_destroy(hasher); }
};

std::string os_words() {
    char text[256];
    return platform_error_text(platform_error_code(), text, sizeof text);
}

} // namespace

std::string patch_signature_path(const std::string& patch_path) {
    const char* text = patch_path.c_str();
    const char* name = platform_path_find_file_name(text);
    size_t name_at = name ? static_cast<size_t>(name - text) : 0;
    // The extension runs from the name's last "." (0x2E is never the second
    // byte of a double-byte character); a name that starts with its only
    // dot has none.
    size_t dot = patch_path.rfind('.');
    if (dot == std::string::npos || dot <= name_at) {
        return patch_path + ".sig";
    }
    return patch_path.substr(0, dot) + ".sig";
}

bool digest_shared_file(SharedFile* file, SignatureDigest* digest, std::string* why) {
    if (shared_file_too_large(file)) {
        *why = "it is 4 GiB or larger";
        return false;
    }
    std::unique_ptr<SignatureHasher, HasherDestroy> hasher(signature_hasher_create());
    if (!hasher) {
        *why = "the system offers no SHA-256";
        return false;
    }
    const uint32_t size = shared_file_size(file);
    std::unique_ptr<uint8_t[]> block(new uint8_t[size < DIGEST_BLOCK ? size + 1 : DIGEST_BLOCK]);
    for (uint32_t done = 0; done < size;) {
        uint32_t want = size - done < DIGEST_BLOCK ? size - done : DIGEST_BLOCK;
        uint32_t got = platform_file_read_at(shared_file_handle(file), done, block.get(), want);
        if (got != want) {
            *why = "cannot be read to its end: " + os_words();
            return false;
        }
        if (!signature_hasher_update(hasher.get(), block.get(), got)) {
            *why = "the system's SHA-256 failed";
            return false;
        }
        done += got;
    }
    if (!signature_hasher_finish(hasher.get(), digest)) {
        *why = "the system's SHA-256 failed";
        return false;
    }
    if (shared_file_changed(file)) {
        *why = "it changed while it was read";
        return false;
    }
    return true;
}

bool read_signature_file(const std::string& path, std::vector<uint8_t>* signature,
                         std::string* why) {
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    if (file == PLATFORM_INVALID_FILE) {
        const bool missing = platform_error_is_missing(platform_error_code());
        const std::string words = os_words();
        *why = missing || !platform_file_exists(path.c_str())
                   ? path + ": missing: the patch is not signed"
                   : path + ": cannot be read: " + words;
        return false;
    }
    uint32_t low = 0, high = 0;
    bool sized = platform_file_size(file, &low, &high);
    bool read = false;
    if (!sized) {
        *why = path + ": cannot be read: " + os_words();
    } else if (high != 0 || low > SIGNATURE_FILE_MAX_SIZE) {
        *why = path + ": larger than 1 KiB: no signature";
    } else if (low == 0) {
        *why = path + ": empty: no signature";
    } else {
        signature->assign(low, 0);
        read = platform_file_read_at(file, 0, signature->data(), low) == low;
        if (!read) {
            *why = path + ": cannot be read: " + os_words();
        }
    }
    platform_file_close(file);
    return read;
}

bool patch_signature_check(const std::string& public_key_pem, SharedFile* patch,
                           const std::string& patch_path, std::string* why) {
    SignatureResult key = signature_check_public_key(public_key_pem);
    if (!key.ok()) {
        *why = "the publisher's public key: " + key.reason;
        return false;
    }
    const std::string signature_path = patch_signature_path(patch_path);
    std::vector<uint8_t> signature;
    if (!read_signature_file(signature_path, &signature, why)) {
        return false;
    }
    SignatureDigest digest;
    std::string reason;
    if (!patch || !digest_shared_file(patch, &digest, &reason)) {
        *why = patch_path + ": " + (patch ? reason : std::string("cannot be opened"));
        return false;
    }
    SignatureResult checked = signature_verify_digest(public_key_pem, digest, signature);
    switch (checked.status) {
    case SIGNATURE_OK:
        return true;
    case SIGNATURE_MISMATCH:
        *why = signature_path + ": not the publisher's signature of " + patch_path +
               ": the patch was changed after signing, or another key signed it";
        return false;
    case SIGNATURE_MALFORMED:
        *why = signature_path + ": " + checked.reason;
        return false;
    case SIGNATURE_BAD_KEY:
        *why = "the publisher's public key: " + checked.reason;
        return false;
    case SIGNATURE_SYSTEM_FAILED:
        break;
    }
    *why = checked.reason;
    return false;
}
