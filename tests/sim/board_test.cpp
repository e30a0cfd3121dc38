// Making boards and changing them while a program runs on them.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>

#include <filesystem>

#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace port = zq::port;

namespace {

class BoardTest : public VBoardTest {};

TEST_F(BoardTest, NewBoardHasItsFilesAndRefusesASecondCreate) {
    for (const char *path : {"/board.json", "/journal", "/dev/log", "/usr/bin", "/bin", "/proc", "/var"})
        EXPECT_TRUE(std::filesystem::exists(host(path))) << path;
    std::string error;
    EXPECT_FALSE(zq::sim::create_board(dir(), &error));
    EXPECT_NE(error.find("already holds a board"), std::string::npos);
}

TEST_F(BoardTest, NewBoardHasBeenUpHalfAMinuteAndRunsInRealTime) {
    uint64_t now = port::monotonic_ns();
    EXPECT_GE(now, 30000000000u);
    EXPECT_LT(now, 3600000000000u);
    struct timespec board {}, host {};
    port::clock_gettime(CLOCK_REALTIME, &board);
    clock_gettime(CLOCK_REALTIME, &host);
    EXPECT_LE(board.tv_sec, host.tv_sec);
    EXPECT_GE(board.tv_sec + 3600, host.tv_sec);
}

TEST_F(BoardTest, EditsOfTheActiveBoardApplyAtOnce) {
    port::monotonic_ns();  // the board is active from here on
    ASSERT_TRUE(zq::sim::set_log_levels(dir(), {{"vo", 7}}));
    MpiLogLevelEntry table[10];
    zq::sim::log_levels(table);
    EXPECT_EQ(table[0].s32Level, 7);
    EXPECT_STREQ(table[0].szName, "vo");
    EXPECT_EQ(table[1].s32Level, 0);
    EXPECT_STREQ(table[1].szName, "");
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/log", true));
    EXPECT_TRUE(zq::sim::device_missing("/dev/../dev/log"));
}

TEST_F(BoardTest, BrokenBoardFileIsReported) {
    { FILE *f = fopen(host("/board.json").c_str(), "w"); fputs("{ not json", f); fclose(f); }
    EXPECT_FALSE(zq::sim::set_clock_speed(dir(), 2));
    std::string error;
    EXPECT_FALSE(zq::sim::activate(dir(), &error));
    EXPECT_NE(error.find("board.json: missing or not a JSON object"), std::string::npos);
}

}  // namespace
