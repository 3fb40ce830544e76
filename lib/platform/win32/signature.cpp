// Signatures through Windows' CNG. bcrypt.dll is loaded by its full path in
// the system folder, never searched for: the updater runs elevated from a
// downloads folder, where a planted bcrypt.dll would otherwise be loaded
// before the first line of the program runs, and would answer every check.
//
// CNG takes keys as its own blobs, made here from the raw key bytes, and
// signatures as r || s, the form this layer's callers hand over.
#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "platform/signature.h"
#include "wide_path.h"

namespace {

constexpr NTSTATUS STATUS_OK = 0;
constexpr NTSTATUS STATUS_SIGNATURE_INVALID = static_cast<NTSTATUS>(0xC000A000L);

// The CNG functions used here, looked up once.
struct Bcrypt {
    decltype(&BCryptOpenAlgorithmProvider) open_algorithm = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) close_algorithm = nullptr;
    decltype(&BCryptCreateHash) create_hash = nullptr;
    decltype(&BCryptHashData) hash_data = nullptr;
    decltype(&BCryptFinishHash) finish_hash = nullptr;
    decltype(&BCryptDestroyHash) destroy_hash = nullptr;
    decltype(&BCryptImportKeyPair) import_key_pair = nullptr;
    decltype(&BCryptExportKey) export_key = nullptr;
    decltype(&BCryptGenerateKeyPair) generate_key_pair = nullptr;
    decltype(&BCryptFinalizeKeyPair) finalize_key_pair = nullptr;
    decltype(&BCryptSignHash) sign_hash = nullptr;
    decltype(&BCryptVerifySignature) verify_signature = nullptr;
    decltype(&BCryptDestroyKey) destroy_key = nullptr;
    bool loaded = false;
};

template <typename Function>
bool resolve(HMODULE module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

Bcrypt load_bcrypt() {
    Bcrypt b;
    wchar_t path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return b;
    }
    lstrcpyW(path + length, L"\\bcrypt.dll");
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        return b;
    }
    // Stays loaded for the life of the process.
    b.loaded = resolve(module, "BCryptOpenAlgorithmProvider", &b.open_algorithm) &&
               resolve(module, "BCryptCloseAlgorithmProvider", &b.close_algorithm) &&
               resolve(module, "BCryptCreateHash", &b.create_hash) &&
               resolve(module, "BCryptHashData", &b.hash_data) &&
               resolve(module, "BCryptFinishHash", &b.finish_hash) &&
               resolve(module, "BCryptDestroyHash", &b.destroy_hash) &&
               resolve(module, "BCryptImportKeyPair", &b.import_key_pair) &&
               resolve(module, "BCryptExportKey", &b.export_key) &&
               resolve(module, "BCryptGenerateKeyPair", &b.generate_key_pair) &&
               resolve(module, "BCryptFinalizeKeyPair", &b.finalize_key_pair) &&
               resolve(module, "BCryptSignHash", &b.sign_hash) &&
               resolve(module, "BCryptVerifySignature", &b.verify_signature) &&
               resolve(module, "BCryptDestroyKey", &b.destroy_key);
    return b;
}

const Bcrypt& bcrypt() {
    static const Bcrypt loaded = load_bcrypt();
    return loaded;
}

std::string status_text(NTSTATUS status) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

SignatureResult unavailable(const char* what, NTSTATUS status) {
    return signature_failure(SIGNATURE_SYSTEM_FAILED,
                             std::string("Windows' cryptography (bcrypt.dll) ") + what +
                                 " (status " + status_text(status) + ")");
}

// An algorithm provider and a key, closed on leaving.
class EcdsaKey {
  public:
    ~EcdsaKey() {
        if (key && bcrypt().destroy_key) {
            bcrypt().destroy_key(key);
        }
        if (algorithm && bcrypt().close_algorithm) {
            bcrypt().close_algorithm(algorithm, 0);
        }
    }
    NTSTATUS open() {
        if (!bcrypt().loaded) {
            return static_cast<NTSTATUS>(0xC0000135L); // STATUS_DLL_NOT_FOUND
        }
        return bcrypt().open_algorithm(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
};

// BCRYPT_ECCKEY_BLOB header, X, Y and, for a private blob, d.
std::vector<UCHAR> key_blob(ULONG magic, const uint8_t point[P256_POINT_SIZE],
                            const uint8_t* scalar) {
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * P256_SCALAR_SIZE +
                            (scalar ? P256_SCALAR_SIZE : 0));
    BCRYPT_ECCKEY_BLOB header{magic, static_cast<ULONG>(P256_SCALAR_SIZE)};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point + 1, 2 * P256_SCALAR_SIZE);
    if (scalar) {
        std::memcpy(blob.data() + sizeof header + 2 * P256_SCALAR_SIZE, scalar, P256_SCALAR_SIZE);
    }
    return blob;
}

SignatureResult import_public_key(const P256PublicKey& parsed, EcdsaKey* key) {
    NTSTATUS status = key->open();
    if (status != STATUS_OK) {
        return unavailable("offers no ECDSA P-256", status);
    }
    std::vector<UCHAR> blob = key_blob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, parsed.point, nullptr);
    status = bcrypt().import_key_pair(key->algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key->key,
                                      blob.data(), static_cast<ULONG>(blob.size()), 0);
    if (status != STATUS_OK) {
        return signature_failure(SIGNATURE_BAD_KEY,
                                 "the public point does not lie on P-256 (status " +
                                     status_text(status) + ")");
    }
    return SignatureResult();
}

} // namespace

struct SignatureHasher {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

SignatureHasher* signature_hasher_create() {
    const Bcrypt& b = bcrypt();
    if (!b.loaded) {
        return nullptr;
    }
    auto* hasher = new SignatureHasher;
    // Without an object buffer CNG keeps the hash's state itself (Windows 7
    // and later).
    if (b.open_algorithm(&hasher->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != STATUS_OK ||
        b.create_hash(hasher->algorithm, &hasher->hash, nullptr, 0, nullptr, 0, 0) != STATUS_OK) {
        signature_hasher_destroy(hasher);
        return nullptr;
    }
    return hasher;
}

bool signature_hasher_update(SignatureHasher* hasher, const void* data, size_t size) {
    if (!hasher || !hasher->hash) {
        return false;
    }
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (size > 0) {
        ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (bcrypt().hash_data(hasher->hash, bytes, piece, 0) != STATUS_OK) {
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool signature_hasher_finish(SignatureHasher* hasher, SignatureDigest* digest) {
    return hasher && hasher->hash &&
           bcrypt().finish_hash(hasher->hash, digest->bytes, SIGNATURE_DIGEST_SIZE, 0) == STATUS_OK;
}

void signature_hasher_destroy(SignatureHasher* hasher) {
    if (!hasher) {
        return;
    }
    if (hasher->hash) {
        bcrypt().destroy_hash(hasher->hash);
    }
    if (hasher->algorithm) {
        bcrypt().close_algorithm(hasher->algorithm, 0);
    }
    delete hasher;
}

bool signature_digest(const void* data, size_t size, SignatureDigest* digest) {
    SignatureHasher* hasher = signature_hasher_create();
    bool done =
        signature_hasher_update(hasher, data, size) && signature_hasher_finish(hasher, digest);
    signature_hasher_destroy(hasher);
    return done;
}

const char* signature_system_name() {
    return "Windows' cryptography (bcrypt.dll)";
}

SignatureResult signature_p256_check_point(const P256PublicKey& key) {
    EcdsaKey imported;
    return import_public_key(key, &imported);
}

SignatureResult signature_p256_verify(const P256PublicKey& key, const SignatureDigest& digest,
                                      const uint8_t raw[P256_RAW_SIGNATURE_SIZE]) {
    EcdsaKey imported;
    SignatureResult taken = import_public_key(key, &imported);
    if (!taken.ok()) {
        return taken;
    }
    SignatureDigest hashed = digest;
    uint8_t signature[P256_RAW_SIGNATURE_SIZE];
    std::memcpy(signature, raw, sizeof signature);
    NTSTATUS status =
        bcrypt().verify_signature(imported.key, nullptr, hashed.bytes, SIGNATURE_DIGEST_SIZE,
                                  signature, P256_RAW_SIGNATURE_SIZE, 0);
    if (status == STATUS_OK) {
        return SignatureResult();
    }
    if (status == STATUS_SIGNATURE_INVALID || status == static_cast<NTSTATUS>(0xC000000DL)) {
        // STATUS_INVALID_SIGNATURE, or STATUS_INVALID_PARAMETER for an r or
        // s beyond the group order.
        return signature_failure(SIGNATURE_MISMATCH,
                                 "the signature does not match: the file was changed "
                                 "after signing, or another key signed it");
    }
    return unavailable("cannot check the signature", status);
}

SignatureResult signature_p256_sign(const P256PrivateKey& key, const SignatureDigest& digest,
                                    uint8_t raw[P256_RAW_SIGNATURE_SIZE]) {
    EcdsaKey imported;
    NTSTATUS status = imported.open();
    if (status != STATUS_OK) {
        return unavailable("offers no ECDSA P-256", status);
    }
    std::vector<UCHAR> blob =
        key_blob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, key.public_key.point, key.scalar);
    status =
        bcrypt().import_key_pair(imported.algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &imported.key,
                                 blob.data(), static_cast<ULONG>(blob.size()), 0);
    SecureZeroMemory(blob.data(), blob.size());
    if (status != STATUS_OK) {
        return signature_failure(SIGNATURE_BAD_KEY,
                                 "the private key is no P-256 key pair (status " +
                                     status_text(status) + ")");
    }
    // A fixed buffer: some versions of CNG (Wine's) answer a size query for
    // P-256 with 32 instead of 64.
    ULONG written = 0;
    SignatureDigest hashed = digest;
    status = bcrypt().sign_hash(imported.key, nullptr, hashed.bytes, SIGNATURE_DIGEST_SIZE, raw,
                                P256_RAW_SIGNATURE_SIZE, &written, 0);
    if (status != STATUS_OK || written != P256_RAW_SIGNATURE_SIZE) {
        return unavailable("could not sign", status);
    }
    return SignatureResult();
}

SignatureResult signature_p256_generate(P256PrivateKey* made) {
    EcdsaKey key;
    NTSTATUS status = key.open();
    if (status != STATUS_OK) {
        return unavailable("offers no ECDSA P-256", status);
    }
    status = bcrypt().generate_key_pair(key.algorithm, &key.key, 256, 0);
    if (status == STATUS_OK) {
        status = bcrypt().finalize_key_pair(key.key, 0);
    }
    if (status != STATUS_OK) {
        return unavailable("cannot make P-256 keys", status);
    }
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * P256_SCALAR_SIZE);
    ULONG written = 0;
    status = bcrypt().export_key(key.key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                 static_cast<ULONG>(blob.size()), &written, 0);
    BCRYPT_ECCKEY_BLOB header{};
    std::memcpy(&header, blob.data(), sizeof header);
    if (status != STATUS_OK || written != blob.size() ||
        header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC || header.cbKey != P256_SCALAR_SIZE) {
        SecureZeroMemory(blob.data(), blob.size());
        return unavailable("does not give out the new key", status);
    }
    made->public_key.point[0] = 0x04;
    const UCHAR* fields = blob.data() + sizeof header;
    std::memcpy(made->public_key.point + 1, fields, 2 * P256_SCALAR_SIZE);
    std::memcpy(made->scalar, fields + 2 * P256_SCALAR_SIZE, P256_SCALAR_SIZE);
    SecureZeroMemory(blob.data(), blob.size());
    return SignatureResult();
}

PlatformFile signature_key_file_create(const char* path) {
    // An access list with one entry, for the user this process runs as, and
    // protected from the entries the folder would hand down.
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return PLATFORM_INVALID_FILE;
    }
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } owner;
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, TokenUser, &owner, sizeof owner, &size);
    DWORD why = GetLastError();
    CloseHandle(token);
    if (!known) {
        SetLastError(why);
        return PLATFORM_INVALID_FILE;
    }
    PSID sid = owner.user.User.Sid;
    DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    std::vector<BYTE> acl_bytes(acl_size);
    auto* acl = reinterpret_cast<PACL>(acl_bytes.data());
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeAcl(acl, acl_size, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return PLATFORM_INVALID_FILE;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    // CREATE_NEW never opens what exists; FILE_FLAG_OPEN_REPARSE_POINT makes
    // a link under the name count as existing instead of being followed.
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return PLATFORM_INVALID_FILE;
    }
    HANDLE file =
        CreateFileW(wide.text, GENERIC_READ | GENERIC_WRITE | DELETE, 0, &attributes, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? PLATFORM_INVALID_FILE
                                        : reinterpret_cast<PlatformFile>(file);
}
