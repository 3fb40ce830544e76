// Signatures through OpenSSL's libcrypto (3.0 or later). Keys and signatures
// are parsed by platform/key_encoding first, so that both builds refuse the
// same inputs with the same words; OpenSSL then gets the DER it checked.
#include "platform/signature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "codepage.h"
#include "platform/key_encoding.h"

struct SignatureHasher {
    EVP_MD_CTX* context;
};

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;

SignatureResult result(SignatureStatus status, std::string reason) {
    SignatureResult r;
    r.status = status;
    r.reason = std::move(reason);
    return r;
}

// The public key as an OpenSSL key; the point must lie on the curve.
Pkey public_key_of(const std::string& pem, SignatureResult* failure) {
    P256PublicKey key;
    std::string why;
    if (!p256_public_key_from_pem(pem, &key, &why)) {
        *failure = result(SIGNATURE_BAD_KEY, why);
        return nullptr;
    }
    Bytes der = p256_public_key_to_der(key);
    const unsigned char* p = der.data();
    Pkey pkey(d2i_PUBKEY(nullptr, &p, long(der.size())));
    if (!pkey) {
        *failure = result(SIGNATURE_BAD_KEY, "the public point does not lie on P-256");
    }
    return pkey;
}

} // namespace

SignatureHasher* signature_hasher_create() {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (!context || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return nullptr;
    }
    return new SignatureHasher{context};
}

bool signature_hasher_update(SignatureHasher* hasher, const void* data, size_t size) {
    return hasher && EVP_DigestUpdate(hasher->context, data, size) == 1;
}

bool signature_hasher_finish(SignatureHasher* hasher, SignatureDigest* digest) {
    unsigned int length = 0;
    return hasher && EVP_DigestFinal_ex(hasher->context, digest->bytes, &length) == 1 &&
           length == SIGNATURE_DIGEST_SIZE;
}

void signature_hasher_destroy(SignatureHasher* hasher) {
    if (hasher) {
        EVP_MD_CTX_free(hasher->context);
        delete hasher;
    }
}

bool signature_digest(const void* data, size_t size, SignatureDigest* digest) {
    unsigned int length = 0;
    return EVP_Digest(data, size, digest->bytes, &length, EVP_sha256(), nullptr) == 1 &&
           length == SIGNATURE_DIGEST_SIZE;
}

SignatureResult signature_check_public_key(const std::string& public_key_pem) {
    SignatureResult failure;
    Pkey key = public_key_of(public_key_pem, &failure);
    return key ? SignatureResult() : failure;
}

SignatureResult signature_verify_digest(const std::string& public_key_pem,
                                        const SignatureDigest& digest,
                                        const std::vector<uint8_t>& der_signature) {
    SignatureResult failure;
    Pkey key = public_key_of(public_key_pem, &failure);
    if (!key) {
        return failure;
    }
    uint8_t raw[P256_RAW_SIGNATURE_SIZE];
    std::string why;
    if (der_signature.size() > SIGNATURE_FILE_MAX_SIZE) {
        return result(SIGNATURE_MALFORMED, "larger than 1 KiB: no signature");
    }
    if (!ecdsa_signature_from_der(der_signature.data(), der_signature.size(), raw, &why)) {
        return result(SIGNATURE_MALFORMED, why);
    }
    // The same bytes, as the parser accepted them.
    Bytes der = ecdsa_signature_to_der(raw);
    PkeyContext context(EVP_PKEY_CTX_new(key.get(), nullptr));
    if (!context || EVP_PKEY_verify_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1) {
        return result(SIGNATURE_SYSTEM_FAILED, "OpenSSL cannot check ECDSA signatures");
    }
    int verified =
        EVP_PKEY_verify(context.get(), der.data(), der.size(), digest.bytes, SIGNATURE_DIGEST_SIZE);
    if (verified != 1) {
        return result(SIGNATURE_MISMATCH, "the signature does not match: the file was changed "
                                          "after signing, or another key signed it");
    }
    return SignatureResult();
}

SignatureResult signature_verify_data(const std::string& public_key_pem, const void* data,
                                      size_t size, const std::vector<uint8_t>& der_signature) {
    SignatureDigest digest;
    if (!signature_digest(data, size, &digest)) {
        return result(SIGNATURE_SYSTEM_FAILED, "OpenSSL cannot compute SHA-256");
    }
    return signature_verify_digest(public_key_pem, digest, der_signature);
}

SignatureResult signature_sign_digest(const std::string& private_key_pem,
                                      const SignatureDigest& digest,
                                      std::vector<uint8_t>* der_signature) {
    P256PrivateKey key;
    std::string why;
    if (!p256_private_key_from_pem(private_key_pem, &key, &why)) {
        return result(SIGNATURE_BAD_KEY, why);
    }
    Bytes der = p256_private_key_to_der(key);
    const unsigned char* p = der.data();
    Pkey pkey(d2i_AutoPrivateKey(nullptr, &p, long(der.size())));
    std::memset(der.data(), 0, der.size());
    std::memset(key.scalar, 0, sizeof key.scalar);
    if (!pkey) {
        return result(SIGNATURE_BAD_KEY, "OpenSSL does not take the private key");
    }
    PkeyContext context(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    size_t length = 0;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1 ||
        EVP_PKEY_sign(context.get(), nullptr, &length, digest.bytes, SIGNATURE_DIGEST_SIZE) != 1) {
        return result(SIGNATURE_SYSTEM_FAILED, "OpenSSL cannot make ECDSA signatures");
    }
    der_signature->assign(length, 0);
    if (EVP_PKEY_sign(context.get(), der_signature->data(), &length, digest.bytes,
                      SIGNATURE_DIGEST_SIZE) != 1) {
        return result(SIGNATURE_SYSTEM_FAILED, "OpenSSL could not sign");
    }
    der_signature->resize(length);
    return SignatureResult();
}

SignatureResult signature_generate_key(std::string* private_key_pem, std::string* public_key_pem) {
    Pkey pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!pkey) {
        return result(SIGNATURE_SYSTEM_FAILED, "OpenSSL cannot make P-256 keys");
    }
    P256PrivateKey key;
    size_t point_size = 0;
    BIGNUM* scalar = nullptr;
    bool exported =
        EVP_PKEY_get_octet_string_param(pkey.get(), OSSL_PKEY_PARAM_PUB_KEY, key.public_key.point,
                                        sizeof key.public_key.point, &point_size) == 1 &&
        point_size == P256_POINT_SIZE && key.public_key.point[0] == 0x04 &&
        EVP_PKEY_get_bn_param(pkey.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) == 1 &&
        BN_bn2binpad(scalar, key.scalar, P256_SCALAR_SIZE) == int(P256_SCALAR_SIZE);
    BN_clear_free(scalar);
    if (!exported) {
        return result(SIGNATURE_SYSTEM_FAILED, "OpenSSL does not give out the new key");
    }
    *private_key_pem = p256_private_key_to_pem(key);
    *public_key_pem = p256_public_key_to_pem(key.public_key);
    std::memset(key.scalar, 0, sizeof key.scalar);
    return SignatureResult();
}

PlatformFile signature_key_file_create(const char* path) {
    CodepagePath native;
    if (!codepage_path(&native, path)) {
        errno = EILSEQ;
        return PLATFORM_INVALID_FILE;
    }
    int fd;
    do {
        fd = open(native.text, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return PLATFORM_INVALID_FILE;
    }
    // The umask can only take bits away; the owner's are wanted all the same.
    if (fchmod(fd, 0600) != 0) {
        int why = errno;
        unlink(native.text);
        close(fd);
        errno = why;
        return PLATFORM_INVALID_FILE;
    }
    return fd;
}
