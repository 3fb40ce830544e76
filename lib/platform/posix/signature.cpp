// Signatures through OpenSSL's libcrypto (3.0 or later). Keys arrive as raw
// bytes and signatures as r || s; OpenSSL's own builders make its key
// objects and DER signatures from them.
#include "platform/signature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "codepage.h"

struct SignatureHasher {
    EVP_MD_CTX* context;
};

namespace {

// Frees an OpenSSL object with its own free function on leaving.
template <auto Free>
struct Freed {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};
using Pkey = std::unique_ptr<EVP_PKEY, Freed<EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Freed<EVP_PKEY_CTX_free>>;
using ParamBuild = std::unique_ptr<OSSL_PARAM_BLD, Freed<OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Freed<OSSL_PARAM_free>>;
using Bignum = std::unique_ptr<BIGNUM, Freed<BN_clear_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Freed<ECDSA_SIG_free>>;

// A P-256 key of point and, for a key pair, scalar. OpenSSL refuses a point
// off the curve here.
Pkey key_of(const P256PublicKey& key, const uint8_t* scalar) {
    ParamBuild build(OSSL_PARAM_BLD_new());
    Bignum secret(scalar ? BN_secure_new() : nullptr);
    if (!build ||
        (scalar && (!secret || !BN_bin2bn(scalar, int(P256_SCALAR_SIZE), secret.get()))) ||
        OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) !=
            1 ||
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, key.point,
                                         P256_POINT_SIZE) != 1 ||
        (secret &&
         OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, secret.get()) != 1)) {
        return nullptr;
    }
    Params params(OSSL_PARAM_BLD_to_param(build.get()));
    PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* made = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &made, scalar ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                          params.get()) != 1) {
        return nullptr;
    }
    return Pkey(made);
}

// r || s as the DER OpenSSL's verifier takes.
std::vector<unsigned char> der_of(const uint8_t raw[P256_RAW_SIGNATURE_SIZE]) {
    EcdsaSig signature(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(raw, int(P256_SCALAR_SIZE), nullptr);
    BIGNUM* s = BN_bin2bn(raw + P256_SCALAR_SIZE, int(P256_SCALAR_SIZE), nullptr);
    if (!signature || !r || !s || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return {};
    }
    int size = i2d_ECDSA_SIG(signature.get(), nullptr);
    std::vector<unsigned char> der(size > 0 ? size_t(size) : 0);
    unsigned char* p = der.data();
    if (size <= 0 || i2d_ECDSA_SIG(signature.get(), &p) != size) {
        return {};
    }
    return der;
}

// OpenSSL's DER signature as r || s.
bool raw_of(const unsigned char* der, size_t size, uint8_t raw[P256_RAW_SIGNATURE_SIZE]) {
    const unsigned char* p = der;
    EcdsaSig signature(d2i_ECDSA_SIG(nullptr, &p, long(size)));
    if (!signature) {
        return false;
    }
    const BIGNUM* r = ECDSA_SIG_get0_r(signature.get());
    const BIGNUM* s = ECDSA_SIG_get0_s(signature.get());
    return BN_bn2binpad(r, raw, int(P256_SCALAR_SIZE)) == int(P256_SCALAR_SIZE) &&
           BN_bn2binpad(s, raw + P256_SCALAR_SIZE, int(P256_SCALAR_SIZE)) == int(P256_SCALAR_SIZE);
}

} // namespace

const char* signature_system_name() {
    return "OpenSSL";
}

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

SignatureResult signature_p256_check_point(const P256PublicKey& key) {
    if (!key_of(key, nullptr)) {
        return signature_failure(SIGNATURE_BAD_KEY, "the public point does not lie on P-256");
    }
    return SignatureResult();
}

SignatureResult signature_p256_verify(const P256PublicKey& key, const SignatureDigest& digest,
                                      const uint8_t raw[P256_RAW_SIGNATURE_SIZE]) {
    Pkey pkey = key_of(key, nullptr);
    if (!pkey) {
        return signature_failure(SIGNATURE_BAD_KEY, "the public point does not lie on P-256");
    }
    std::vector<unsigned char> der = der_of(raw);
    PkeyContext context(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    if (der.empty() || !context || EVP_PKEY_verify_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1) {
        return signature_failure(SIGNATURE_SYSTEM_FAILED, "OpenSSL cannot check ECDSA signatures");
    }
    int verified =
        EVP_PKEY_verify(context.get(), der.data(), der.size(), digest.bytes, SIGNATURE_DIGEST_SIZE);
    if (verified != 1) {
        return signature_failure(SIGNATURE_MISMATCH,
                                 "the signature does not match: the file was changed "
                                 "after signing, or another key signed it");
    }
    return SignatureResult();
}

SignatureResult signature_p256_sign(const P256PrivateKey& key, const SignatureDigest& digest,
                                    uint8_t raw[P256_RAW_SIGNATURE_SIZE]) {
    Pkey pkey = key_of(key.public_key, key.scalar);
    if (!pkey) {
        return signature_failure(SIGNATURE_BAD_KEY, "OpenSSL does not take the private key");
    }
    PkeyContext context(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    size_t length = 0;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1 ||
        EVP_PKEY_sign(context.get(), nullptr, &length, digest.bytes, SIGNATURE_DIGEST_SIZE) != 1) {
        return signature_failure(SIGNATURE_SYSTEM_FAILED, "OpenSSL cannot make ECDSA signatures");
    }
    std::vector<unsigned char> der(length);
    if (EVP_PKEY_sign(context.get(), der.data(), &length, digest.bytes, SIGNATURE_DIGEST_SIZE) !=
            1 ||
        !raw_of(der.data(), length, raw)) {
        return signature_failure(SIGNATURE_SYSTEM_FAILED, "OpenSSL could not sign");
    }
    return SignatureResult();
}

SignatureResult signature_p256_generate(P256PrivateKey* key) {
    Pkey pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!pkey) {
        return signature_failure(SIGNATURE_SYSTEM_FAILED, "OpenSSL cannot make P-256 keys");
    }
    size_t point_size = 0;
    BIGNUM* scalar = nullptr;
    bool exported =
        EVP_PKEY_get_octet_string_param(pkey.get(), OSSL_PKEY_PARAM_PUB_KEY, key->public_key.point,
                                        sizeof key->public_key.point, &point_size) == 1 &&
        point_size == P256_POINT_SIZE && key->public_key.point[0] == 0x04 &&
        EVP_PKEY_get_bn_param(pkey.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) == 1 &&
        BN_bn2binpad(scalar, key->scalar, P256_SCALAR_SIZE) == int(P256_SCALAR_SIZE);
    BN_clear_free(scalar);
    if (!exported) {
        OPENSSL_cleanse(key->scalar, sizeof key->scalar);
        return signature_failure(SIGNATURE_SYSTEM_FAILED, "OpenSSL does not give out the new key");
    }
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
