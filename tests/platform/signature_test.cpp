// Signatures through the operating system: OpenSSL on Linux, CNG on Windows
// (under Wine in the tests). The same tests run on both builds, and keys and
// signatures made by the other build must verify here.
#include <gtest/gtest.h>

#include <cstring>

#include "platform_test_support.h"
#include "support/key_encoding.h"
#include "support/signature.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const std::string MESSAGE = "Tessavane patch signature test vector\n";

Bytes hex(const char* text) {
    Bytes out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) {
        out.push_back(uint8_t(std::stoi(std::string(text + i, 2), nullptr, 16)));
    }
    return out;
}

// Signatures of MESSAGE made on one build and checked on both. The first
// pair was made by OpenSSL on Linux ("openssl dgst -sha256 -sign" with the
// test key of tests/data/signing), the second by CNG under Wine (a key of
// "epk2.exe keygen" and the Windows build's signature_sign_digest).
const struct Vector {
    const char* made_by;
    const char* public_key;
    const char* signature;
} VECTORS[] = {
    {"OpenSSL on Linux",
     "-----BEGIN PUBLIC KEY-----\n"
     "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE8g6xCIpNZyBcmS+8ypNW0QreSkYU\n"
     "WqdocdlS3Jwfln7fJI6PKwBmgapfwVMcRr8knRMBjXCMYriWnrc8B18kTw==\n"
     "-----END PUBLIC KEY-----\n",
     "3045022100e3da2bf2388257015872cc31e18672910c033fa887a8a5d42b2720f9e1478cc4"
     "02206aa7c3137b9df872975af6879907590345e4220765d86d5b2355cfc4fa917c72"},
    {"CNG under Wine",
     "-----BEGIN PUBLIC KEY-----\n"
     "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE+jfmrZ4PGPz6xIxBpZLnoIkER3W2\n"
     "dM/5xU0VZKWdTLxNW5YfLdUlKt2vYpnwxY6OoQ8uzAL9ffxmDGlif6vmnQ==\n"
     "-----END PUBLIC KEY-----\n",
     "3045022100a154d753ce1786bc1f816db6462d4c2db6c2906ce479c13af2250dc2723f5c33"
     "02201659314ef2df6d66cb9a5efd1be67c4b80ff8aec6c59cc4163b5e6883426f48d"},
};

TEST(Signature, VerifiesWhatTheOtherBuildSigned) {
    for (const Vector& v : VECTORS) {
        Bytes signature = hex(v.signature);
        SignatureResult good =
            signature_verify_data(v.public_key, MESSAGE.data(), MESSAGE.size(), signature);
        EXPECT_TRUE(good.ok()) << v.made_by << ": " << good.reason;
        // One byte more or less of the message, or another key: refused.
        std::string changed = MESSAGE + " ";
        EXPECT_EQ(
            signature_verify_data(v.public_key, changed.data(), changed.size(), signature).status,
            SIGNATURE_MISMATCH)
            << v.made_by;
        const char* other = (&v == &VECTORS[0] ? VECTORS[1] : VECTORS[0]).public_key;
        EXPECT_EQ(signature_verify_data(other, MESSAGE.data(), MESSAGE.size(), signature).status,
                  SIGNATURE_MISMATCH)
            << v.made_by;
    }
}

TEST(Signature, HashesInPiecesAsInOneGo) {
    const std::string data = make_bytes(300000, 5, false);
    SignatureDigest whole, pieces;
    ASSERT_TRUE(signature_digest(data.data(), data.size(), &whole));
    SignatureHasher* hasher = signature_hasher_create();
    ASSERT_NE(hasher, nullptr);
    for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 + 1) {
        ASSERT_TRUE(
            signature_hasher_update(hasher, data.data() + at, std::min(step, data.size() - at)));
    }
    ASSERT_TRUE(signature_hasher_finish(hasher, &pieces));
    signature_hasher_destroy(hasher);
    EXPECT_EQ(0, std::memcmp(whole.bytes, pieces.bytes, SIGNATURE_DIGEST_SIZE));
    // The FIPS 180-2 example: SHA-256("abc").
    SignatureDigest abc;
    ASSERT_TRUE(signature_digest("abc", 3, &abc));
    EXPECT_EQ(Bytes(abc.bytes, abc.bytes + 32),
              hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

TEST(Signature, NewKeysSignAndVerifyAndNothingElseMatches) {
    std::string private_a, public_a, private_b, public_b;
    ASSERT_TRUE(signature_generate_key(&private_a, &public_a).ok());
    ASSERT_TRUE(signature_generate_key(&private_b, &public_b).ok());
    EXPECT_NE(public_a, public_b);
    EXPECT_TRUE(signature_check_public_key(public_a).ok());

    SignatureDigest digest;
    ASSERT_TRUE(signature_digest(MESSAGE.data(), MESSAGE.size(), &digest));
    Bytes signature;
    SignatureResult made = signature_sign_digest(private_a, digest, &signature);
    ASSERT_TRUE(made.ok()) << made.reason;
    EXPECT_TRUE(signature_verify_digest(public_a, digest, signature).ok());

    // What the key files hold is what the parsers read back.
    P256PrivateKey key;
    ASSERT_TRUE(p256_private_key_from_pem(private_a, &key, nullptr));
    EXPECT_EQ(p256_public_key_to_pem(key.public_key), public_a);

    SignatureDigest other = digest;
    other.bytes[31] ^= 1;
    Bytes flipped = signature;
    flipped[flipped.size() - 1] ^= 1;
    EXPECT_EQ(signature_verify_digest(public_a, other, signature).status, SIGNATURE_MISMATCH);
    EXPECT_EQ(signature_verify_digest(public_b, digest, signature).status, SIGNATURE_MISMATCH);
    EXPECT_EQ(signature_verify_digest(public_a, digest, flipped).status, SIGNATURE_MISMATCH);
    EXPECT_EQ(signature_verify_digest(public_a, digest, Bytes(2000, 0x30)).status,
              SIGNATURE_MALFORMED);
    EXPECT_EQ(signature_verify_digest(private_a, digest, signature).status, SIGNATURE_BAD_KEY);
    EXPECT_EQ(signature_sign_digest(public_a, digest, &signature).status, SIGNATURE_BAD_KEY);
}

TEST(Signature, PublicPointOffTheCurveNeverVerifies) {
    P256PublicKey key;
    ASSERT_TRUE(p256_public_key_from_pem(VECTORS[0].public_key, &key, nullptr));
    key.point[64] ^= 1; // y no longer belongs to x
    const std::string moved = p256_public_key_to_pem(key);
    SignatureResult checked =
        signature_verify_data(moved, MESSAGE.data(), MESSAGE.size(), hex(VECTORS[0].signature));
    EXPECT_TRUE(checked.status == SIGNATURE_BAD_KEY || checked.status == SIGNATURE_MISMATCH)
        << checked.reason;
#ifndef _WIN32
    // OpenSSL checks the point when it takes the key (Wine's CNG does not).
    EXPECT_EQ(signature_check_public_key(moved).status, SIGNATURE_BAD_KEY);
#endif
}

TEST(Signature, KeyFilesAreNewAndTheirOwnersAlone) {
    TempDir temp;
    const std::string path = join_path(temp.path(), "publisher.key");
    PlatformFile file = signature_key_file_create(path.c_str());
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    EXPECT_EQ(platform_file_write_at(file, 0, "secret", 6), 6u);
    platform_file_close(file);
    // Never over what exists.
    EXPECT_EQ(signature_key_file_create(path.c_str()), PLATFORM_INVALID_FILE);
    EXPECT_EQ(read_whole_file(path), "secret");
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Nor through a dangling link.
    const std::string link = join_path(temp.path(), "link.key");
    ASSERT_EQ(symlink(join_path(temp.path(), "elsewhere").c_str(), link.c_str()), 0);
    EXPECT_EQ(signature_key_file_create(link.c_str()), PLATFORM_INVALID_FILE);
    EXPECT_FALSE(file_exists(join_path(temp.path(), "elsewhere")));
#endif
}

} // namespace
