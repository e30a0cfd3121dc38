// The simplest emulators' hardware rules: the log sink, NOR flash and the
// drivers' state files.
#include "emul/board.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "emul/flash.h"
#include "emul/state_file.h"
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

// A missing, empty, cut-short or foreign file reads as power-on; each store
// moves the stamp readers cache by; writers take turns and lose no change.
TEST_F(BoardTest, StateFilesReadSpoiltFilesAsPowerOnAndWritersTakeTurns) {
    const std::string path = host("/dev/state");
    auto count_of_file = [](json_object *root) { return zq::sim::json_int64(root, "n", -1); };
    auto read_count = [&] { return zq::sim::LockedFile(path, O_RDONLY).load(count_of_file); };
    EXPECT_EQ(read_count(), -1);
    for (const char *spoilt : {"", "{\"n\": 4", "[4]", "4", "\xFF{"}) {
        write_board_file(dir(), "/dev/state", spoilt);
        EXPECT_EQ(read_count(), -1) << spoilt;
    }
    auto add = [&](int times) {
        for (int i = 0; i < times; ++i) {
            zq::sim::LockedFile file(path, O_RDWR | O_CREAT);
            json_object *root = json_object_new_object();
            json_object_object_add(root, "n", json_object_new_int64(file.load(count_of_file) + 1));
            ASSERT_TRUE(file.store(root));
        }
    };
    add(1);
    const auto before = std::filesystem::last_write_time(path);
    add(1);
    EXPECT_NE(std::filesystem::last_write_time(path), before);
    EXPECT_EQ(read_count(), 1);  // from power-on (-1)
    std::thread other(add, 300);
    add(300);
    other.join();
    EXPECT_EQ(read_count(), 601);
    EXPECT_FALSE(zq::sim::LockedFile(host("/dev/none"), O_RDWR).store(json_object_new_object()));
}

}  // namespace
