// The boot environment: reading and setting variables, the list edits and
// CRC as the boot loader sees them in flash, layouts, and bad images.
#include "flash/env_store.h"

#include <fstream>

#include "emul/board.h"
#include "flash/flash_block.h"
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
    // An image of these bytes under a CRC that fits them.
    void image_is(std::vector<uint8_t> bytes) {
        board({});
        const uint32_t crc = zq::sim::reference_crc32(bytes.data() + 4, bytes.size() - 4);
        for (size_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(crc >> (8 * i));
        ASSERT_TRUE(zq::sim::poke_flash(dir(), layout_.offset, bytes));
    }
    // The value in a buffer of size bytes, or "<none>" when the read fails.
    std::string read(const char *name, int size = 32) {
        std::string buffer(static_cast<size_t>(size), '#');
        int rc = ZQSDK_EnvReadKeyValue(name, buffer.data(), size);
        return rc == 0 ? buffer : rc == -1 ? "<none>" : "<bad result>";
    }
    // Sets name and expects rc; what it logged.
    static Captured set(const char *name, const char *value, int rc) {
        return capture_output([&] { EXPECT_EQ(ZQSDK_EnvWriteKeyValue(name, value), rc); });
    }
    zq::flash::EnvLayout layout_{};
};

// A missing device fails the load, which the next call tries again.
TEST_F(EnvStoreTest, ReadsAreBoundedStringCopiesAndBadArgumentsAreRefused) {
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/mtd0", true));
    capture_output([&] { EXPECT_EQ(read("zqauto"), "<none>"); });
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/mtd0", false));
    board({"bootdelay=1", "zqauto=0", "serial=1234567"});
    EXPECT_EQ(read("zqauto", 5), std::string("0\0\0\0\0", 5));
    EXPECT_EQ(read("serial", 5), "12345");  // no terminator, nothing beyond the 5 bytes
    for (const char *absent : {"zqa", "zqauto2"}) EXPECT_EQ(read(absent), "<none>") << absent;
    EXPECT_EQ(read("bootdelay=", 3), std::string("1\0\0", 3));
    EXPECT_EQ(read(nullptr), "<none>");
    char buffer[4];
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", nullptr, 4), -1);
    EXPECT_EQ(ZQSDK_EnvReadKeyValue("zqauto", buffer, 0), -1);
    const std::string longName(24, 'n'), longValue(32, 'v');
    for (const char *name : {static_cast<const char *>(nullptr), "", "a=b", longName.c_str()})
        set(name, "1", -1);
    set("n", longValue.c_str(), -1);
    set(longName.c_str() + 1, longValue.c_str() + 1, 0);  // 23 and 31 characters fit
}

TEST_F(EnvStoreTest, SettingReplacesMovesToTheEndAndAppends) {
    struct Step {
        const char *name, *value;
        std::string list;
    };
    const Step steps[] = {
        {"zqauto", "0", std::string("zqauto=0\0\0", 10)},  // into an empty list
        {"zqauto", "1", std::string("zqauto=1\0\0", 10)},  // the only entry, rewritten in place
        {"bootdelay", "3", std::string("zqauto=1\0bootdelay=3\0\0", 22)},
        {"zqauto", "2", std::string("bootdelay=3\0zqauto=2\0\0", 22)},
        {"empty", nullptr, std::string("bootdelay=3\0zqauto=2\0empty=\0\0", 29)},
    };
    board({});
    for (const Step &step : steps) {
        set(step.name, step.value, 0);
        EXPECT_EQ(stored_list(), step.list);
        EXPECT_TRUE(env_crc_valid(image()));
        std::string value = step.value ? step.value : "";
        value.resize(3, '\0');
        EXPECT_EQ(read(step.name, 3), value);
    }
}

TEST_F(EnvStoreTest, OverflowAtTheImageEndDropsTheOldValueInMemoryOnly) {
    // A 64 KiB image whose list leaves 20 bytes after "big=...": room for
    // "v=" + 16 characters + "=" NUL NUL, not one byte more.
    const std::string big = "big=" + std::string(0x10000 - 4 - 20 - 1 - 4, 'x');
    board({big, "v=old"}, 0x20000);
    set("v", std::string(17, 'a').c_str(), -1);
    EXPECT_EQ(read("v"), "<none>");  // gone from memory, not from flash
    EXPECT_NE(stored_list().find(std::string("\0v=old\0\0", 8)), std::string::npos);

    set("v", std::string(16, 'a').c_str(), 0);
    std::vector<uint8_t> img = image();
    EXPECT_EQ(std::string(img.end() - 21, img.end()),
              std::string(1, '\0') + "v=" + std::string(16, 'a') + std::string(2, '\0'));
    EXPECT_TRUE(env_crc_valid(img));
}

TEST_F(EnvStoreTest, PartitionTableProblemsFailTheLoad) {
    for (const char *table :
         {"mtd0: 00030000 00010000 \"boot\"\n",  // no header
          "dev:    size   erasesize  name\nmtd1: 00030000 00010000 \"kernel\"\n"}) {
        std::ofstream(host("/proc/mtd"), std::ios::trunc) << table;
        EXPECT_EQ(read("zqauto"), "<none>") << table;
        set("zqauto", "1", -1);
    }
}

TEST_F(EnvStoreTest, RefusedEraseAndShortWriteFailTheSave) {
    board({"zqauto=0"});
    ASSERT_TRUE(zq::sim::refuse_request(dir(), "/dev/mtd0", zq::flash::kMemErase, 0, 1));
    set("zqauto", "1", -1);
    EXPECT_EQ(stored_list(), std::string("zqauto=0\0\0", 10));  // flash untouched
    ASSERT_TRUE(zq::sim::set_flash_short_write(dir(), 0x8000));
    set("zqauto", "1", -1);
}

// A save cut short, erased flash, an empty dump: the boot loader sees no
// environment, so neither do reads; a save starts from an empty list.
TEST_F(EnvStoreTest, ImageWithABadCrcIsNoEnvironment) {
    board({"bootdelay=1", "zqauto=0"});
    ASSERT_TRUE(zq::sim::poke_flash(dir(), layout_.offset + 23, {'1'}));  // "zqauto=1" now
    capture_output([&] { EXPECT_EQ(read("zqauto"), "<none>"); });
    set("zqauto", "1", 0);
    EXPECT_EQ(stored_list(), std::string("zqauto=1\0\0", 10));
    EXPECT_TRUE(env_crc_valid(image()));
}

TEST_F(EnvStoreTest, ErasedOrUnterminatedImagesNeverRunPastTheImage) {
    image_is(std::vector<uint8_t>(0x10000, 0xFF));
    EXPECT_EQ(read("zqauto"), "<none>");
    set("zqauto", "1", -1);
    int entries = 0;
    EXPECT_TRUE(zq::flash::env_for_each([&](std::string_view) { ++entries; }));
    EXPECT_EQ(entries, 1);  // one unterminated entry up to the image end
    // Removing the entry before an unterminated one stays in the image too.
    std::vector<uint8_t> image(0x10000, 'x');  // "zqauto=0", then text up to the image end
    const std::string entry = "zqauto=0";
    std::copy(entry.begin(), entry.end(), image.begin() + 4);
    image[4 + entry.size()] = 0;
    image_is(image);
    set("zqauto", "1", -1);
    EXPECT_EQ(read("zqauto", 4), "<none>");
}

}  // namespace
