// The flash CRC against known values and against zlib on every length and
// alignment the eight-byte loop and its tail can meet.
#include "flash/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

using zq::flash::crc32;

TEST(Crc32, MatchesKnownValuesAndZlibOnEveryLengthAndAlignment) {
    EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
    std::mt19937 random(7);
    std::vector<uint8_t> data(4096 + 16);
    for (uint8_t &b : data) b = static_cast<uint8_t>(random());
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t len = 0; len < 200; ++len)  // from 0: the empty CRC is 0
            ASSERT_EQ(crc32(data.data() + offset, len),
                      ::crc32(0, data.data() + offset, static_cast<uInt>(len)))
                << "offset " << offset << " length " << len;
    }
    // A CRC continues over pieces as over the whole.
    EXPECT_EQ(zq::flash::crc32_update(crc32(data.data(), 1000), data.data() + 1000, 3096),
              crc32(data.data(), 4096));
}
