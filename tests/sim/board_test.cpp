// Making boards and changing them while a program runs on them.
#include "board.h"

#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>

#include <filesystem>

#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace port = zq::port;

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
    {
        FILE *f = fopen(host("/board.json").c_str(), "w");
        fputs("{ not json", f);
        fclose(f);
    }
    EXPECT_FALSE(zq::sim::set_clock_speed(dir(), 2));
    std::string error;
    EXPECT_FALSE(zq::sim::activate(dir(), &error));
    EXPECT_NE(error.find("board.json: missing or not a JSON object"), std::string::npos);
}

}  // namespace
