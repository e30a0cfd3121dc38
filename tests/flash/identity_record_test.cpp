// The identity record: round trip, what makes a record invalid, failure
// paths, and the rest of its erase block, which a 192 KiB partition shares
// with the boot environment.

#include "emul/board.h"
#include "flash/flash_block.h"
#include "flash_test_support.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_flash.h"

namespace {

constexpr uint32_t kBlock = 0x20000;
constexpr uint32_t kRecordAt = kBlock + 0xF800;

class IdentityRecordTest : public VBoardTest {
  protected:
    std::vector<uint8_t> block() { return zq::sim::read_flash(dir(), kBlock, 0x10000); }
    static int read_back(std::vector<uint8_t> &buffer, u32 &version) {
        return ZQSDK_ReadSeriesNum(buffer.data(), static_cast<u32>(buffer.size()), &version);
    }
    static bool record_is(const std::vector<uint8_t> &expected) {
        std::vector<uint8_t> back(expected.size());
        u32 version = 0;
        return read_back(back, version) == 0 && back == expected;
    }
    static void write_error(const uint8_t *data) {
        capture_output([&] { EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 134, 1), -1); });
    }
    static void read_error(uint32_t bufferSize) {
        std::vector<uint8_t> buffer(bufferSize);
        u32 version = 0;
        capture_output([&] { EXPECT_EQ(read_back(buffer, version), -1); });
    }
};

TEST_F(IdentityRecordTest, RoundTripCopiesExactlyTheStoredLength) {
    std::vector<uint8_t> written = payload(134, 1);
    ASSERT_EQ(ZQSDK_WriteSeriesNum(written.data(), 134, 0x301), 0);
    std::vector<uint8_t> buffer(200, 0xEE);
    u32 version = 0;
    ASSERT_EQ(read_back(buffer, version), 0);
    EXPECT_EQ(version, 0x301u);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), buffer.begin()));
    EXPECT_EQ(buffer[134], 0xEE);  // the rest of the buffer is not touched

    // The board reads it with code of its own; the rest of the 2 KiB is zeros.
    const std::vector<uint8_t> flash = zq::sim::read_flash(dir(), kRecordAt, 2048);
    const zq::sim::Record stored = zq::sim::parse_record(flash);
    EXPECT_TRUE(stored.valid());
    EXPECT_EQ(std::make_pair(stored.version, stored.payload), std::make_pair(0x301u, written));
    EXPECT_TRUE(std::all_of(flash.begin() + 16 + 134, flash.end(), [](uint8_t b) { return !b; }));
}

TEST_F(IdentityRecordTest, ShortBufferFlippedBitOrLengthBeyondTheRecordIsNoRecord) {
    ASSERT_EQ(ZQSDK_WriteSeriesNum(payload(134, 1).data(), 134, 0x301), 0);
    read_error(133);
    std::vector<uint8_t> byte = zq::sim::read_flash(dir(), kRecordAt + 16 + 40, 1);
    byte[0] ^= 0x10;
    ASSERT_TRUE(zq::sim::poke_flash(dir(), kRecordAt + 16 + 40, byte));
    read_error(134);
    // A length word beyond the record: never valid, never read past the block.
    ASSERT_TRUE(zq::sim::poke_flash(dir(), kRecordAt + 8, {0xF1, 0x07, 0, 0}));  // 2033
    read_error(4096);
}

// A record longer than its 2 KiB (with its words) would run past the block.
TEST_F(IdentityRecordTest, BadArgumentsAreParameterErrors) {
    uint8_t data[2033] = {};
    u32 version;
    capture_output([&] {
        EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 2033, 1), -1);
        EXPECT_EQ(ZQSDK_ReadSeriesNum(data, 10, nullptr), -1);
        EXPECT_EQ(ZQSDK_ReadSeriesNum(data, 0, &version), -1);
    });
}

TEST_F(IdentityRecordTest, FlashFailuresAreFlashReadErrors) {
    uint8_t data[134] = {1};
    ASSERT_TRUE(zq::sim::refuse_request(dir(), "/dev/mtd0", zq::flash::kMemErase, 0, 1));
    write_error(data);
    ASSERT_TRUE(zq::sim::set_flash_short_write(dir(), 0x1000));
    write_error(data);
    // The block is beyond a 128 KiB partition.
    ASSERT_TRUE(zq::sim::set_flash_size(dir(), 0x20000));
    write_error(data);
    read_error(134);
    // Without the partition table the block's other user is unknown: no write.
    ASSERT_TRUE(zq::sim::set_flash_size(dir(), 0x30000));
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/proc/mtd", true));
    const std::vector<uint8_t> untouched = block();
    write_error(data);
    EXPECT_EQ(block(), untouched);
}

TEST_F(IdentityRecordTest, WriteKeepsTheRestOfTheBlockAndAValidEnvironmentValid) {
    // A 256 KiB partition keeps the environment elsewhere: every other byte stays.
    ASSERT_TRUE(zq::sim::set_flash_size(dir(), 0x40000));
    std::vector<uint8_t> others = payload(0xF800, 9);
    ASSERT_TRUE(zq::sim::poke_flash(dir(), kBlock, others));
    ASSERT_EQ(ZQSDK_WriteSeriesNum(payload(2032, 3).data(), 2032, 7), 0);
    EXPECT_EQ(zq::sim::read_flash(dir(), kBlock, 0xF800), others);
    EXPECT_TRUE(record_is(payload(2032, 3)));

    // In a 192 KiB partition the list stays and the environment CRC is redone
    // over the new record only when it was valid before.
    ASSERT_TRUE(zq::sim::set_flash_size(dir(), 0x30000));
    for (bool validBefore : {true, false}) {
        ASSERT_TRUE(zq::sim::write_env_image(dir(), {"zqauto=1"}));
        ASSERT_TRUE(validBefore || zq::sim::poke_flash(dir(), kBlock, {0, 0, 0, 0}));
        const std::vector<uint8_t> before = block();
        ASSERT_EQ(env_crc_valid(before), validBefore);
        ASSERT_EQ(ZQSDK_WriteSeriesNum(payload(134, 5).data(), 134, 0x301), 0);
        const std::vector<uint8_t> after = block();
        EXPECT_EQ(env_crc_valid(after), validBefore);
        const size_t from = validBefore ? 4 : 0;
        EXPECT_TRUE(
            std::equal(before.begin() + from, before.begin() + 0xF800, after.begin() + from));
    }
}

// The list ends 20 bytes before the record: a longer entry overflows instead
// of running over it, and a save never brings back an older record.
TEST_F(IdentityRecordTest, EnvironmentStopsAtTheRecordAndNeverBringsBackAnOlderOne) {
    const std::string big = "big=" + std::string(0xF800 - 4 - 20 - 1 - 4, 'x');
    ASSERT_TRUE(zq::sim::write_env_image(dir(), {big}));
    capture_output(  // the environment is loaded here
        [] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("v", std::string(17, 'a').c_str()), -1); });
    const std::vector<uint8_t> fresh = payload(134, 42);
    ASSERT_EQ(ZQSDK_WriteSeriesNum(fresh.data(), 134, 0x301), 0);
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("v", std::string(16, 'a').c_str()), 0);
    EXPECT_TRUE(record_is(fresh));
    EXPECT_TRUE(env_crc_valid(block()));
}

}  // namespace
