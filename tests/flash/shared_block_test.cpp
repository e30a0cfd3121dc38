// A 192 KiB partition puts the boot environment and the identity record in
// the same erase block, under one environment CRC. Neither write may spoil
// the other.
#include <gtest/gtest.h>

#include <numeric>

#include "board.h"
#include "flash_test_support.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_flash.h"

namespace {

constexpr uint32_t kBlock = 0x20000;

class SharedBlockTest : public VBoardTest {
  protected:
    std::vector<uint8_t> block() { return zq::sim::read_flash(dir(), kBlock, 0x10000); }
    static std::vector<uint8_t> payload(uint8_t seed) {
        std::vector<uint8_t> p(134);
        std::iota(p.begin(), p.end(), seed);
        return p;
    }
    static bool record_is(const std::vector<uint8_t> &expected) {
        std::vector<uint8_t> back(134);
        u32 version = 0;
        return ZQSDK_ReadSeriesNum(back.data(), 134, &version) == 0 && back == expected;
    }
};

TEST_F(SharedBlockTest, IdentityWriteKeepsTheEnvironmentValid) {
    const std::vector<uint8_t> before = block();
    ASSERT_TRUE(env_crc_valid(before));  // a new board's environment
    ASSERT_EQ(ZQSDK_WriteSeriesNum(payload(5).data(), 134, 0x301), 0);
    const std::vector<uint8_t> after = block();
    EXPECT_TRUE(env_crc_valid(after));
    EXPECT_TRUE(std::equal(before.begin() + 4, before.begin() + 0xF800, after.begin() + 4));
    char value[2] = {};
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", value, 2), 0);
}

TEST_F(SharedBlockTest, IdentityWriteLeavesAnInvalidEnvironmentAlone) {
    ASSERT_TRUE(zq::sim::poke_flash(dir(), kBlock, {0, 0, 0, 0}));  // a CRC that does not match
    const std::vector<uint8_t> before = block();
    ASSERT_EQ(ZQSDK_WriteSeriesNum(payload(5).data(), 134, 0x301), 0);
    const std::vector<uint8_t> after = block();
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 0xF800, after.begin()));
}

TEST_F(SharedBlockTest, EnvironmentSaveNeverBringsBackAnOlderRecord) {
    char value[2];
    ASSERT_EQ(ZQSDK_EnvReadKeyValue("zqauto", value, 2), 0);  // environment loaded here
    const std::vector<uint8_t> fresh = payload(42);
    ASSERT_EQ(ZQSDK_WriteSeriesNum(fresh.data(), 134, 0x301), 0);
    ASSERT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "0"), 0);
    EXPECT_TRUE(record_is(fresh));
    EXPECT_TRUE(env_crc_valid(block()));
}

TEST_F(SharedBlockTest, EnvironmentListStopsAtTheRecord) {
    // Fill the list up to 20 bytes before the record: a longer entry must
    // overflow instead of running over the identity record.
    const std::string big = "big=" + std::string(0xF800 - 4 - 20 - 1 - 4, 'x');
    ASSERT_TRUE(zq::sim::write_env_image(dir(), {big}));
    const std::vector<uint8_t> record = zq::sim::read_flash(dir(), kBlock + 0xF800, 2048);
    capture_output(
        [] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("v", std::string(17, 'a').c_str()), -1); });
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("v", std::string(16, 'a').c_str()), 0);
    EXPECT_EQ(zq::sim::read_flash(dir(), kBlock + 0xF800, 2048), record);
    EXPECT_TRUE(env_crc_valid(block()));
}

}  // namespace
