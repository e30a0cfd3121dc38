// The identity record: round trip, what makes a record invalid, the rest of
// the erase block, failure paths, and power lost in the middle of a write.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "board.h"
#include "flash/mtd.h"
#include "flash_test_support.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_flash.h"

namespace {

constexpr uint32_t kRecordAt = 0x2F800;

class SeriesNumTest : public VBoardTest {
  protected:
    static std::vector<uint8_t> payload(size_t n, uint8_t seed) {
        std::vector<uint8_t> p(n);
        std::iota(p.begin(), p.end(), seed);
        return p;
    }
    std::string read_error(uint32_t bufferSize) {
        std::vector<uint8_t> buffer(bufferSize);
        u32 version = 0;
        Captured c = capture_output(
            [&] { EXPECT_EQ(ZQSDK_ReadSeriesNum(buffer.data(), bufferSize, &version), -1); });
        return c.err;
    }
};

TEST_F(SeriesNumTest, RoundTripCopiesExactlyTheStoredLength) {
    std::vector<uint8_t> written = payload(134, 1);
    ASSERT_EQ(ZQSDK_WriteSeriesNum(written.data(), 134, 0x301), 0);
    std::vector<uint8_t> buffer(200, 0xEE);
    u32 version = 0;
    ASSERT_EQ(ZQSDK_ReadSeriesNum(buffer.data(), 200, &version), 0);
    EXPECT_EQ(version, 0x301u);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), buffer.begin()));
    EXPECT_EQ(buffer[134], 0xEE);  // the rest of the buffer is not touched

    std::vector<uint8_t> flash = zq::sim::read_flash(dir(), kRecordAt, 2048);
    EXPECT_EQ(le32(flash, 0), 0xFEAD5238u);
    EXPECT_EQ(le32(flash, 4), zq::flash::crc32(written.data(), 134));
    EXPECT_EQ(le32(flash, 8), 134u);
    EXPECT_EQ(le32(flash, 12), 0x301u);
    EXPECT_TRUE(
        std::all_of(flash.begin() + 16 + 134, flash.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(SeriesNumTest, InvalidRecordsAreReportedWithTheirWords) {
    std::vector<uint8_t> written = payload(134, 1);
    ASSERT_EQ(ZQSDK_WriteSeriesNum(written.data(), 134, 0x301), 0);
    uint32_t crc = zq::flash::crc32(written.data(), 134);
    char expected[96];
    std::snprintf(expected, sizeof expected, ")[ERROR]: magic:fead5238 crc:[%x,%x] len:[134,133]\n",
                  crc, crc);
    std::string err = read_error(133);
    EXPECT_NE(err.find("<sn> ==> ZQSDK_ReadSeriesNum("), std::string::npos);
    EXPECT_NE(err.find(expected), std::string::npos) << err;

    // One flipped bit in the payload.
    std::vector<uint8_t> byte = zq::sim::read_flash(dir(), kRecordAt + 16 + 40, 1);
    byte[0] ^= 0x10;
    ASSERT_TRUE(zq::sim::poke_flash(dir(), kRecordAt + 16 + 40, byte));
    written[40] ^= 0x10;
    std::snprintf(expected, sizeof expected, "magic:fead5238 crc:[%x,%x] len:[134,134]\n", crc,
                  zq::flash::crc32(written.data(), 134));
    EXPECT_NE(read_error(134).find(expected), std::string::npos);

    // A length word beyond the record: never valid, never read past the block.
    ASSERT_TRUE(zq::sim::poke_flash(dir(), kRecordAt + 8, {0xF1, 0x07, 0, 0}));  // 2033
    std::snprintf(expected, sizeof expected, "magic:fead5238 crc:[%x,0] len:[2033,4096]\n", crc);
    EXPECT_NE(read_error(4096).find(expected), std::string::npos);

    // Erased flash.
    ASSERT_TRUE(zq::sim::poke_flash(dir(), kRecordAt, std::vector<uint8_t>(2048, 0xFF)));
    EXPECT_NE(read_error(134).find("magic:ffffffff crc:[ffffffff,0] len:[-1,134]\n"),
              std::string::npos);
}

TEST_F(SeriesNumTest, WriteKeepsTheRestOfTheBlock) {
    ASSERT_TRUE(zq::sim::set_flash_size(dir(), 0x40000));  // the environment lives elsewhere
    std::vector<uint8_t> others = payload(0xF800, 9);
    ASSERT_TRUE(zq::sim::poke_flash(dir(), 0x20000, others));
    std::vector<uint8_t> written = payload(2032, 3);
    ASSERT_EQ(ZQSDK_WriteSeriesNum(written.data(), 2032, 7), 0);
    EXPECT_EQ(zq::sim::read_flash(dir(), 0x20000, 0xF800), others);
    std::vector<uint8_t> back(2032);
    u32 version = 0;
    ASSERT_EQ(ZQSDK_ReadSeriesNum(back.data(), 2032, &version), 0);
    EXPECT_EQ(back, written);
}

TEST_F(SeriesNumTest, BadArgumentsAreParameterErrors) {
    uint8_t data[2033] = {};
    u32 version;
    Captured c = capture_output([&] {
        EXPECT_EQ(ZQSDK_WriteSeriesNum(nullptr, 10, 1), -1);
        EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 0, 1), -1);
        EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 2033, 1), -1);
        EXPECT_EQ(ZQSDK_ReadSeriesNum(nullptr, 10, &version), -1);
        EXPECT_EQ(ZQSDK_ReadSeriesNum(data, 0, &version), -1);
        EXPECT_EQ(ZQSDK_ReadSeriesNum(data, 10, nullptr), -1);
    });
    size_t count = 0;
    for (size_t at = 0; (at = c.err.find(")[ERROR]: param is error\n", at)) != std::string::npos;
         ++at)
        ++count;
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(c.out, "");
}

TEST_F(SeriesNumTest, FlashFailuresAreFlashReadErrors) {
    uint8_t data[134] = {1};
    ASSERT_TRUE(zq::sim::refuse_request(dir(), "/dev/mtd0", zq::flash::kMemErase, 0, 1));
    Captured c = capture_output([&] { EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 134, 1), -1); });
    EXPECT_NE(c.err.find("<sn> ==> flashWrite("), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: mem erase failed\n"), std::string::npos);
    EXPECT_NE(c.err.find("<sn> ==> ZQSDK_WriteSeriesNum("), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: flash read error\n"), std::string::npos);

    ASSERT_TRUE(zq::sim::set_flash_short_write(dir(), 0x1000));
    c = capture_output([&] { EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 134, 1), -1); });
    EXPECT_NE(c.err.find(")[ERROR]: flash read error\n"), std::string::npos);

    ASSERT_TRUE(
        zq::sim::set_flash_size(dir(), 0x20000));  // the block is beyond a 128 KiB partition
    c = capture_output([&] {
        EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 134, 1), -1);
        u32 version;
        EXPECT_EQ(ZQSDK_ReadSeriesNum(data, 134, &version), -1);
    });
    EXPECT_NE(c.err.find("==> ZQSDK_ReadSeriesNum("), std::string::npos);

    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/mtd0", true));
    c = capture_output([&] { EXPECT_EQ(ZQSDK_WriteSeriesNum(data, 134, 1), -1); });
    EXPECT_NE(c.err.find(")[ERROR]: flash read error\n"), std::string::npos);
}

// Power lost at any point of a write leaves the old record, the new one, or
// a record that reads as invalid: never a wrong record that reads as valid.
TEST_F(SeriesNumTest, PowerCutNeverLeavesAWrongValidRecord) {
    const std::vector<uint8_t> oldRecord = zq::sim::read_flash(dir(), kRecordAt, 2048);
    const std::vector<uint8_t> fresh = payload(134, 77);
    const int64_t cuts[] = {0,
                            0x8000,
                            0xF800,
                            0xF800 + 2,
                            0xF800 + 6,
                            0xF800 + 14,
                            0xF800 + 16 + 60,
                            0xF800 + 16 + 133,
                            0xF800 + 16 + 134,
                            0x10000 - 1};
    for (int64_t cut : cuts) {
        ASSERT_TRUE(zq::sim::poke_flash(dir(), kRecordAt, oldRecord));
        ASSERT_TRUE(zq::sim::set_flash_power_cut(dir(), cut));
        EXPECT_EXIT(ZQSDK_WriteSeriesNum(fresh.data(), 134, 0x301),
                    testing::KilledBySignal(SIGKILL), "");
        ASSERT_TRUE(zq::sim::set_flash_power_cut(dir(), -1));
        std::vector<uint8_t> back(134);
        u32 version = 0;
        int rc = -2;
        capture_output([&] { rc = ZQSDK_ReadSeriesNum(back.data(), 134, &version); });
        if (rc == 0) {
            EXPECT_TRUE(back == fresh && version == 0x301) << "cut after " << cut;
        }
    }
}

}  // namespace
