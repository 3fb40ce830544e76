#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "archive/epk2_format.h"

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
