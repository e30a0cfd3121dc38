// The boot environment: reading and setting variables, the list edits and
// CRC as the boot loader sees them in flash, layouts, and bad images.
#include "flash/env_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "board.h"
#include "flash/mtd.h"
#include "flash_test_support.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_flash.h"

namespace {

using zq::flash::env_layout_for_size;

class EnvStoreTest : public VBoardTest {
  protected:
    // The environment of a 256 KiB partition (a block of its own) by default.
    void board(const std::vector<std::string> &entries, uint32_t mtd0Size = 0x40000) {
        ASSERT_TRUE(zq::sim::set_flash_size(dir(), mtd0Size));
        ASSERT_TRUE(zq::sim::write_env_image(dir(), entries));
        layout_ = env_layout_for_size(mtd0Size);
    }
    std::vector<uint8_t> image() {
        return zq::sim::read_flash(dir(), layout_.offset, layout_.size);
    }
    std::string stored_list() { return env_list(image()); }
    std::string read(const char *name, int size = 32) {
        std::string buffer(static_cast<size_t>(size), '#');
        return ZQSDK_EnvReadKeyValue(name, buffer.data(), size) == 0 ? buffer : "<none>";
    }
    zq::flash::EnvLayout layout_{};
};

TEST_F(EnvStoreTest, ReadsAreBoundedStringCopies) {
    board({"bootdelay=1", "zqauto=0", "serial=1234567"});
    EXPECT_EQ(read("zqauto", 5), std::string("0\0\0\0\0", 5));
    EXPECT_EQ(read("serial", 5), "12345");  // no terminator, nothing beyond the 5 bytes
    EXPECT_EQ(read("zqa"), "<none>");
    EXPECT_EQ(read("zqauto2"), "<none>");
    EXPECT_EQ(read("bootdelay=", 3), std::string("1\0\0", 3));
    char buffer[4];
    EXPECT_EQ(ZQSDK_EnvReadKeyValue(nullptr, buffer, 4), -1);
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", nullptr, 4), -1);
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 0), -1);
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, -5), -1);
}

TEST_F(EnvStoreTest, SettingReplacesMovesAndAppends) {
    board({"bootdelay=1", "zqauto=0"});
    Captured c = capture_output([] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), 0); });
    EXPECT_NE(c.out.find("==> ZQSDK_EnvWriteKeyValue("), std::string::npos);
    EXPECT_NE(c.out.find(")[INFO]: Save environment ok: zqauto = 1\n"), std::string::npos);
    EXPECT_EQ(stored_list(), std::string("bootdelay=1\0zqauto=1\0\0", 22));
    EXPECT_TRUE(env_crc_valid(image()));

    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("bootdelay", "3"), 0);
    EXPECT_EQ(stored_list(), std::string("zqauto=1\0bootdelay=3\0\0", 22));
    EXPECT_TRUE(env_crc_valid(image()));

    Captured n = capture_output([] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("empty", nullptr), 0); });
    EXPECT_NE(n.out.find("Save environment ok: empty = (null)\n"), std::string::npos);
    EXPECT_EQ(read("empty", 3), std::string("\0\0\0", 3));
    EXPECT_EQ(stored_list(), std::string("zqauto=1\0bootdelay=3\0empty=\0\0", 29));
}

TEST_F(EnvStoreTest, EmptyListAndTheOnlyEntryAreRewrittenInPlace) {
    board({});
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "0"), 0);
    std::vector<uint8_t> img = image();
    EXPECT_EQ(std::string(img.begin() + 4, img.begin() + 14), std::string("zqauto=0\0\0", 10));
    // Replacing the only entry must leave it readable, not hidden behind
    // an empty first entry.
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), 0);
    EXPECT_EQ(read("zqauto", 2), std::string("1\0", 2));
    EXPECT_EQ(stored_list(), std::string("zqauto=1\0\0", 10));
}

TEST_F(EnvStoreTest, OverflowAtTheImageEndDropsTheOldValueInMemoryOnly) {
    // A 64 KiB image whose list leaves 20 bytes after "big=...": room for
    // "v=" + 16 characters + "=" NUL NUL, not one byte more.
    const std::string big = "big=" + std::string(0x10000 - 4 - 20 - 1 - 4, 'x');
    board({big, "v=old"}, 0x20000);
    Captured c = capture_output(
        [] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("v", std::string(17, 'a').c_str()), -1); });
    EXPECT_NE(c.err.find("==> do_setenv("), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: Environment Overflow, \"v\" Deleted\n"), std::string::npos);
    EXPECT_NE(c.err.find("==> ZQSDK_EnvWriteKeyValue("), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: Set Environmeent To Flash Fail\n"), std::string::npos);
    EXPECT_EQ(read("v"), "<none>");  // gone from memory
    EXPECT_NE(stored_list().find(std::string("\0v=old\0\0", 8)),
              std::string::npos);  // not from flash

    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("v", std::string(16, 'a').c_str()), 0);
    std::vector<uint8_t> img = image();
    EXPECT_EQ(std::string(img.end() - 21, img.end()),
              std::string(1, '\0') + "v=" + std::string(16, 'a') + std::string(2, '\0'));
    EXPECT_TRUE(env_crc_valid(img));
}

TEST_F(EnvStoreTest, BadNamesAndValuesAreRefused) {
    board({"a=1"});
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue(nullptr, "1"), -1);
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("", "1"), -1);
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("a=b", "1"), -1);
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue(std::string(24, 'n').c_str(), "1"), -1);
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("n", std::string(32, 'v').c_str()), -1);
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue(std::string(23, 'n').c_str(), std::string(31, 'v').c_str()),
              0);
    EXPECT_EQ(read("a", 2), std::string("1\0", 2));
}

TEST_F(EnvStoreTest, OtherPartitionSizesKeepA256KiBImageAt256KiB) {
    board({"where=big"}, 0x100000);
    EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), 0);
    EXPECT_EQ(stored_list(), std::string("where=big\0zqauto=1\0\0", 20));
    EXPECT_TRUE(env_crc_valid(image()));
    EXPECT_EQ(image().size(), 0x40000u);
}

TEST_F(EnvStoreTest, PartitionTableProblemsFailTheLoad) {
    const char *tables[] = {
        "",                                                                      // empty
        "mtd0: 00030000 00010000 \"boot\"\n",                                    // no header
        "dev:    size   erasesize  name\n",                                      // no partitions
        "dev:    size   erasesize  name\nmtd1: 00030000 00010000 \"kernel\"\n",  // no mtd0
    };
    for (const char *table : tables) {
        std::FILE *f = std::fopen(host("/proc/mtd").c_str(), "w");
        std::fputs(table, f);
        std::fclose(f);
        char buffer[8];
        EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 8), -1) << table;
        EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), -1) << table;
    }
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/proc/mtd", true));
    char buffer[8];
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 8), -1);
}

TEST_F(EnvStoreTest, MissingDeviceIsReported) {
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/mtd0", true));
    char buffer[8];
    Captured c = capture_output([&] { EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 8), -1); });
    EXPECT_NE(c.err.find("<env> ==> env_init("), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: Open Mtd0 Failed\n"), std::string::npos);
    // The next call tries again.
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/mtd0", false));
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 8), 0);
}

TEST_F(EnvStoreTest, RefusedEraseAndShortWriteFailTheSave) {
    board({"zqauto=0"});
    ASSERT_TRUE(zq::sim::refuse_request(dir(), "/dev/mtd0", zq::flash::kMemErase, 0, 1));
    Captured c = capture_output([] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), -1); });
    EXPECT_NE(c.err.find("==> do_saveenv("), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: Mem Erase Failed\n"), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: save environmeent to flash fail\n"), std::string::npos);
    EXPECT_EQ(stored_list(), std::string("zqauto=0\0\0", 10));  // flash untouched

    ASSERT_TRUE(zq::sim::set_flash_short_write(dir(), 0x8000));
    c = capture_output([] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), -1); });
    EXPECT_NE(c.err.find(")[ERROR]: Write Mtd Failed\n"), std::string::npos);
    EXPECT_NE(c.err.find(")[ERROR]: save environmeent to flash fail\n"), std::string::npos);
}

TEST_F(EnvStoreTest, ErasedAndRandomImagesNeverRunPastTheImage) {
    board({}, 0x40000);
    ASSERT_TRUE(zq::sim::poke_flash(dir(), 0x30000, std::vector<uint8_t>(0x10000, 0xFF)));
    char buffer[8];
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 8), -1);
    Captured c = capture_output([] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), -1); });
    EXPECT_NE(c.err.find("Environment Overflow, \"zqauto\" Deleted\n"), std::string::npos);
    EXPECT_NE(c.err.find("Set Environmeent To Flash Fail\n"), std::string::npos);
    int entries = 0;
    EXPECT_TRUE(zq::flash::env_for_each([&](std::string_view) { ++entries; }));
    EXPECT_EQ(entries, 1);  // one unterminated entry up to the image end
}

TEST_F(EnvStoreTest, RemovingBeforeAnUnterminatedEntryStaysInTheImage) {
    board({}, 0x40000);
    std::vector<uint8_t> image(0x10000, 'x');  // "zqauto=0", then text up to the image end
    const std::string entry = "zqauto=0";
    std::copy(entry.begin(), entry.end(), image.begin() + 4);
    image[4 + entry.size()] = 0;
    ASSERT_TRUE(zq::sim::poke_flash(dir(), 0x30000, image));
    capture_output([] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue("zqauto", "1"), -1); });
    char buffer[4];
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 4), -1);
}

TEST_F(EnvStoreTest, RandomImagesGiveResultsNotCrashes) {
    std::mt19937 random(3);
    std::vector<uint8_t> noise(0x10000);
    for (uint8_t &b : noise) b = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random());
    board({}, 0x40000);
    ASSERT_TRUE(zq::sim::poke_flash(dir(), 0x30000, noise));
    char buffer[8];
    capture_output([&] {
        for (const char *name : {"zqauto", "a", "", "bootdelay"})
            ZQSDK_EnvReadKeyValue(name, buffer, 8);
        ZQSDK_EnvWriteKeyValue("zqauto", "1");
    });
    zq::flash::env_for_each([](std::string_view entry) { EXPECT_LT(entry.size(), 0x10000u); });
}

}  // namespace
