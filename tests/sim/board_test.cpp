// The simplest emulators' hardware rules: a log sink that never loses
// earlier records and level-table names exactly as board.json gives them;
// NOR flash that erases whole erase blocks, where programming only clears
// bits and the partition ends where board.json says.
#include "emul/board.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "emul/flash.h"
#include "flash/flash_block.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace port = zq::port;
using zq::flash::EraseInfoUser;
using zq::flash::kMemErase;

namespace {

class BoardTest : public VBoardTest {};

// Level-table names fill all their 8 bytes, without a terminator, or are cut.
TEST_F(BoardTest, LogSinkKeepsEarlierRecordsAndGivesLevelNamesOfEightBytes) {
    ASSERT_TRUE(zq::sim::set_log_levels(dir(), {{"12345678", 2}, {"toolongname", 1}}));
    MpiLogLevelEntry table[10];
    for (const char *record : {"first\n", "second\n"}) {
        FILE *f = port::fopen("/dev/log", "w");
        ASSERT_NE(f, nullptr);
        std::fputs(record, f);
        ASSERT_EQ(port::ioctl(fileno(f), ZQ_MPI_LOG_GET_LEVELS, table), 0);
        port::fclose(f);
    }
    EXPECT_EQ(zq::sim::read_board_file(dir(), "/dev/log"), "first\nsecond\n");
    EXPECT_EQ(std::memcmp(table[0].szName, "12345678", 8), 0);
    EXPECT_EQ(std::memcmp(table[1].szName, "toolongn", 8), 0);
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

    // The partition end cuts a write, then refuses one.
    ASSERT_EQ(port::lseek(fd, 0x2FFFF, SEEK_SET), 0x2FFFF);
    EXPECT_EQ(port::write(fd, ones.data(), 16), 1);
    EXPECT_EQ(port::write(fd, ones.data(), 16), -1);
    EXPECT_EQ(errno, ENOSPC);
    port::close(fd);
    ASSERT_TRUE(zq::sim::set_flash_size(dir(), 0x40000));  // grown: the new block is erased
    EXPECT_EQ(zq::sim::read_flash(dir(), 0x30000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
}

}  // namespace
