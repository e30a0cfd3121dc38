// Making boards and changing them while a program runs on them, and the
// simplest emulators' hardware rules: a log sink that never loses earlier
// records and a level table exactly as board.json gives it; NOR flash that
// erases and writes whole erase blocks, where programming only clears bits,
// with "/proc/mtd" following board.json.
#include "board.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "flash.h"
#include "flash/flash_block.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace port = zq::port;
using zq::flash::EraseInfoUser;
using zq::flash::kMemErase;

namespace {

class BoardTest : public VBoardTest {};

TEST_F(BoardTest, NewBoardHasItsFilesAndRefusesASecondCreate) {
    for (const char *path :
         {"/board.json", "/journal", "/dev/log", "/usr/bin", "/bin", "/proc", "/var"})
        EXPECT_TRUE(std::filesystem::exists(host(path))) << path;
    std::string error;
    EXPECT_FALSE(zq::sim::create_board(dir(), &error));
    EXPECT_NE(error.find("already holds a board"), std::string::npos);
}

TEST_F(BoardTest, BrokenBoardFileIsReported) {
    std::ofstream(host("/board.json"), std::ios::trunc) << "{ not json";
    EXPECT_FALSE(zq::sim::set_clock_speed(dir(), 2));
    std::string error;
    EXPECT_FALSE(zq::sim::activate(dir(), &error));
    EXPECT_NE(error.find("board.json: missing or not a JSON object"), std::string::npos);
}

TEST_F(BoardTest, LogSinkKeepsEarlierRecordsOnEveryOpen) {
    for (const char *record : {"first\n", "second\n"}) {
        FILE *f = port::fopen("/dev/log", "w");
        ASSERT_NE(f, nullptr);
        std::fputs(record, f);
        port::fclose(f);
    }
    EXPECT_EQ(zq::sim::read_board_file(dir(), "/dev/log"), "first\nsecond\n");
}

TEST_F(BoardTest, LogLevelRequestFillsAllTenEntries) {
    ASSERT_TRUE(zq::sim::set_log_levels(dir(), {{"sys", 5}, {"12345678", 2}, {"toolongname", 1}}));
    int fd = port::open("/dev/log", O_WRONLY);
    ASSERT_GE(fd, 0);
    MpiLogLevelEntry table[10];
    std::memset(table, 0x5A, sizeof table);
    ASSERT_EQ(port::ioctl(fd, ZQ_MPI_LOG_GET_LEVELS, table), 0);
    EXPECT_EQ(table[0].s32Level, 5);
    EXPECT_EQ(std::memcmp(table[0].szName, "sys\0\0\0\0\0", 8), 0);
    EXPECT_EQ(std::memcmp(table[1].szName, "12345678", 8), 0);
    EXPECT_EQ(std::memcmp(table[2].szName, "toolongn", 8), 0);
    const MpiLogLevelEntry unused{};
    for (int i = 3; i < 10; ++i) EXPECT_EQ(std::memcmp(&table[i], &unused, sizeof unused), 0) << i;
    EXPECT_EQ(port::ioctl(fd, 0x800C4C01, table), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(port::ioctl(fd, ZQ_MPI_LOG_GET_LEVELS, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    port::close(fd);
}

TEST_F(BoardTest, FlashKeepsNorRules) {
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

    // Any byte range programs; the partition end cuts a write, then refuses one.
    ASSERT_EQ(port::lseek(fd, 0x101, SEEK_SET), 0x101);
    ASSERT_EQ(port::write(fd, "\x0F", 1), 1);
    EXPECT_EQ(zq::sim::read_flash(dir(), 0x100, 3), (std::vector<uint8_t>{0x30, 0x00, 0x30}));
    ASSERT_EQ(port::lseek(fd, 0x2FFFF, SEEK_SET), 0x2FFFF);
    EXPECT_EQ(port::write(fd, ones.data(), 16), 1);
    EXPECT_EQ(port::write(fd, ones.data(), 16), -1);
    EXPECT_EQ(errno, ENOSPC);
    port::close(fd);
}

TEST_F(BoardTest, FlashPartitionTableAndResize) {
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
