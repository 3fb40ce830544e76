#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/epk2_format.h"

namespace {

// SHA-256 of a byte run as lowercase hex: enough of FIPS 180-4 to fingerprint
// the key tables without a library.
std::string sha256_hex(const unsigned char* data, size_t size) {
    static const uint32_t K[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    // The message, a 0x80 byte, zeros, and the bit length in 8 big-endian bytes.
    std::vector<unsigned char> m(data, data + size);
    m.push_back(0x80);
    while (m.size() % 64 != 56) {
        m.push_back(0);
    }
    for (int i = 7; i >= 0; --i) {
        m.push_back(static_cast<unsigned char>((uint64_t(size) * 8) >> (8 * i)));
    }
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (size_t block = 0; block < m.size(); block += 64) {
        uint32_t w[64];
        for (int t = 0; t < 16; ++t) {
            const unsigned char* p = &m[block + 4 * t];
            w[t] = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        }
        for (int t = 16; t < 64; ++t) {
            uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t v[8];
        std::copy(h, h + 8, v);
        for (int t = 0; t < 64; ++t) {
            uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
            uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
            uint32_t t1 = v[7] + s1 + ch + K[t] + w[t];
            uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
            uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            std::copy_backward(v, v + 7, v + 8);
            v[4] += t1;
            v[0] = t1 + s0 + maj;
        }
        for (int i = 0; i < 8; ++i) {
            h[i] += v[i];
        }
    }
    char hex[65];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    }
    return hex;
}

} // namespace

TEST(Epk2Keys, EachKeyIsAPermutationOfAllByteValues) {
    for (uint32_t k = 1; k <= EPK2_KEY_COUNT; ++k) {
        const unsigned char* key = epk2_key(k);
        ASSERT_NE(key, nullptr) << "key " << k;
        std::array<int, 256> seen{};
        for (uint32_t i = 0; i < EPK2_KEY_LENGTH; ++i) {
            ++seen[key[i]];
        }
        for (int v = 0; v < 256; ++v) {
            EXPECT_EQ(seen[v], 1) << "key " << k << " value " << v;
        }
    }
}

TEST(Epk2Keys, KeysDifferAndOutOfRangeNumbersHaveNone) {
    for (uint32_t a = 1; a <= EPK2_KEY_COUNT; ++a) {
        for (uint32_t b = a + 1; b <= EPK2_KEY_COUNT; ++b) {
            EXPECT_NE(0, memcmp(epk2_key(a), epk2_key(b), EPK2_KEY_LENGTH));
        }
    }
    EXPECT_EQ(epk2_key(0), nullptr);
    EXPECT_EQ(epk2_key(5), nullptr);
}

TEST(Epk2Layout, AlignmentRoundsUpToThirtyTwo) {
    EXPECT_EQ(epk2_align(0), 0u);
    EXPECT_EQ(epk2_align(1), 32u);
    EXPECT_EQ(epk2_align(32), 32u);
    EXPECT_EQ(epk2_align(57), 64u);
}

TEST(Epk2Keys, EachKeyTableHasItsRecordedDigest) {
    // Every archive ever written depends on these bytes: a table that differs
    // in one byte reads all of them as damage.
    const struct {
        const char* what;
        std::string bytes;
        const char* digest;
    } cases[] = {
        // Known answers of the digest itself, one block and two.
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"key 1", std::string(reinterpret_cast<const char*>(epk2_key(1)), EPK2_KEY_LENGTH),
         "00dca97fe6458df5f01c42d589e4b9e56524495f281a9af1fe6043718c1a13ff"},
        {"key 2", std::string(reinterpret_cast<const char*>(epk2_key(2)), EPK2_KEY_LENGTH),
         "fac40653a92569d74d05d70c33a1299e5b87c1801c89be3ceac474bb7feb504c"},
        {"key 3", std::string(reinterpret_cast<const char*>(epk2_key(3)), EPK2_KEY_LENGTH),
         "0629f5bd227a135f940f5860a33ba29e2bb1af8a8bc141a5bd2ae34afef57b47"},
        {"key 4", std::string(reinterpret_cast<const char*>(epk2_key(4)), EPK2_KEY_LENGTH),
         "76089257eac3fd2ea38abb25203b77673db5bd429db075840a07b5f4dd4dbd99"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            sha256_hex(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()),
            c.digest)
            << c.what;
    }
}
