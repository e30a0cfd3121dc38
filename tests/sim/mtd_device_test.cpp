// The flash emulator keeps NOR rules: erase and write on whole erase
// blocks, programming only clears bits; "/proc/mtd" follows board.json.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "board.h"
#include "flash.h"
#include "flash/mtd.h"
#include "port/port.h"
#include "support/vboard_fixture.h"

namespace port = zq::port;
using zq::flash::EraseInfoUser;
using zq::flash::kMemErase;

namespace {

class MtdDeviceTest : public VBoardTest {};

TEST_F(MtdDeviceTest, NorRules) {
    int fd = port::open("/dev/mtd0", O_RDWR);
    ASSERT_GE(fd, 0);
    EraseInfoUser half{0, 0x8000}, beyond{0x30000, 0x10000}, first{0, 0x10000};
    EXPECT_EQ(port::ioctl(fd, kMemErase, &half), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(port::ioctl(fd, kMemErase, &beyond), -1);
    ASSERT_EQ(port::ioctl(fd, kMemErase, &first), 0);
    EXPECT_EQ(zq::sim::read_flash(dir(), 0, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));

    std::vector<uint8_t> ones(0x10000, 0xF0), more(0x10000, 0x3C);
    ASSERT_EQ(port::lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(port::write(fd, ones.data(), ones.size()), 0x10000);
    ASSERT_EQ(port::lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(port::write(fd, more.data(), more.size()), 0x10000);  // without an erase
    EXPECT_EQ(zq::sim::read_flash(dir(), 0, 0x10000), std::vector<uint8_t>(0x10000, 0x30));

    ASSERT_EQ(port::lseek(fd, 0x100, SEEK_SET), 0x100);
    EXPECT_EQ(port::write(fd, ones.data(), 0x10000), -1);  // not on a block boundary
    EXPECT_EQ(errno, EINVAL);
    port::close(fd);
}

TEST_F(MtdDeviceTest, PartitionTableAndResize) {
    EXPECT_EQ(zq::sim::read_board_file(dir(), "/proc/mtd"),
              "dev:    size   erasesize  name\nmtd0: 00030000 00010000 \"boot\"\n"
              "mtd1: 00300000 00010000 \"kernel\"\nmtd2: 00c00000 00010000 \"rootfs\"\n");
    ASSERT_TRUE(zq::sim::set_flash_size(dir(), 0x40000));
    EXPECT_NE(zq::sim::read_board_file(dir(), "/proc/mtd").find("mtd0: 00040000 00010000"),
              std::string::npos);
    EXPECT_EQ(zq::sim::read_flash(dir(), 0x30000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
    EXPECT_EQ(zq::sim::read_flash(dir(), 0, 0x50000).size(), 0x40000u);
}

}  // namespace
