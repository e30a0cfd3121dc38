// The log driver emulator keeps the hardware's rules: a sink that never
// loses earlier records, and a level table exactly as board.json gives it.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace port = zq::port;

namespace {

class LogDeviceTest : public VBoardTest {};

TEST_F(LogDeviceTest, OpeningForWritingKeepsEarlierRecords) {
    for (const char *record : {"first\n", "second\n"}) {
        FILE *f = port::fopen("/dev/log", "w");
        ASSERT_NE(f, nullptr);
        std::fputs(record, f);
        port::fclose(f);
    }
    EXPECT_EQ(zq::sim::read_board_file(dir(), "/dev/log"), "first\nsecond\n");
}

TEST_F(LogDeviceTest, LevelRequestFillsAllTenEntries) {
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
    for (int i = 3; i < 10; ++i) {
        EXPECT_EQ(table[i].s32Level, 0);
        EXPECT_EQ(std::memcmp(table[i].szName, "\0\0\0\0\0\0\0\0", 8), 0);
    }
    EXPECT_EQ(port::ioctl(fd, 0x800C4C01, table), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(port::ioctl(fd, ZQ_MPI_LOG_GET_LEVELS, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    port::close(fd);
}

}  // namespace
