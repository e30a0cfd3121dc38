// The vboard command as a person uses it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "board.h"
#include "support/vboard_fixture.h"

namespace {

struct CliRun {
    int status;
    std::string out;
};

CliRun vboard(const std::string &args) {
    std::string command = std::string(ZQ_VBOARD_TOOL) + " " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    CliRun run{-1, ""};
    if (!pipe) return run;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) run.out.append(buf, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class VboardCliTest : public VBoardTest {};

TEST_F(VboardCliTest, HelpForTheCommandAndEveryVerb) {
    EXPECT_EQ(vboard("--help").status, 0);
    for (const char *verb : {"create", "journal", "env", "id"}) {
        EXPECT_NE(vboard("--help").out.find(verb), std::string::npos) << verb;
        CliRun help = vboard(std::string(verb) + " --help");
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind(std::string("usage: vboard ") + verb, 0), 0u) << help.out;
    }
    EXPECT_EQ(vboard("").status, 2);
    EXPECT_EQ(vboard("frobnicate x").status, 2);
}

TEST_F(VboardCliTest, CreateMakesABoardAtTheGivenSpeedOnce) {
    std::string board = dir() + "/tmp/second";
    CliRun created = vboard("create " + board + " --speed 100");
    EXPECT_EQ(created.status, 0) << created.out;
    EXPECT_EQ(created.out, "virtual board ready in " + board + "\n");
    EXPECT_NE(zq::sim::read_board_file(board, "/board.json").find("\"speed\": 100"),
              std::string::npos);
    CliRun again = vboard("create " + board);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("already holds a board"), std::string::npos);
    EXPECT_EQ(vboard("create " + board + "x --speed fast").status, 1);
}

TEST_F(VboardCliTest, JournalPrintsTheBoardsJournal) {
    std::ofstream(host("/journal"), std::ios::app) << "30.000001 42 /dev/log open\n";
    CliRun journal = vboard("journal " + dir());
    EXPECT_EQ(journal.status, 0);
    EXPECT_EQ(journal.out, "30.000001 42 /dev/log open\n");
    CliRun notBoard = vboard("journal " + dir() + "/dev");
    EXPECT_EQ(notBoard.status, 1);
    EXPECT_NE(notBoard.out.find("is not a virtual board"), std::string::npos);
}

TEST_F(VboardCliTest, EnvPrintsAndSetsTheBootEnvironment) {
    const std::string env = "env " + dir();
    CliRun print = vboard(env + " print");
    EXPECT_EQ(print.status, 0);
    EXPECT_EQ(print.out, "bootdelay=1\nbaudrate=115200\nzqauto=1\n");
    EXPECT_EQ(vboard(env + " set zqauto 0").out, "zqauto=0 saved\n");
    EXPECT_EQ(vboard(env + " print zqauto").out, "zqauto=0\n");
    CliRun missing = vboard(env + " print nothere");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "vboard: nothere is not set\n");
    EXPECT_EQ(vboard(env + " set " + std::string(24, 'n') + " 1").status, 1);
    EXPECT_EQ(vboard(env + " frob").status, 1);
}

TEST_F(VboardCliTest, IdShowsAndWritesTheIdentityRecord) {
    CliRun show = vboard("id " + dir() + " show");
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.out,
              "version: 0x300\nlength: 134\nAPP_ID: []\nUUID: [ZQ-UUID-PLACEHOLDER-0001]\n"
              "KEY: [ZQ-KEY-PLACEHOLDER-0000000000000001]\nMAC: 00:00:00:00:00:00\n");
    CliRun write = vboard("id " + dir() + " write --app-id app-7 --mac 02:00:5e:10:20:30");
    EXPECT_EQ(write.status, 0) << write.out;
    EXPECT_EQ(vboard("id " + dir() + " show").out,
              "version: 0x301\nlength: 134\nAPP_ID: [app-7]\nUUID: [ZQ-UUID-PLACEHOLDER-0001]\n"
              "KEY: [ZQ-KEY-PLACEHOLDER-0000000000000001]\nMAC: 02:00:5e:10:20:30\n");
    EXPECT_EQ(vboard("env " + dir() + " print zqauto").out,
              "zqauto=1\n");  // the environment survives
    EXPECT_EQ(vboard("id " + dir() + " write --mac 02:00").status, 1);
    EXPECT_EQ(vboard("id " + dir() + " write --uuid " + std::string(32, 'u')).status, 1);
}

TEST_F(VboardCliTest, FlashDumpsWorkWithoutABoard) {
    std::string dump = dir() + "/tmp/mtd0.bin";
    ASSERT_TRUE(std::filesystem::copy_file(host("/dev/mtd0"), dump));
    std::string image = "--image " + dump + " --mtd0-size 0x30000 ";
    EXPECT_EQ(vboard("env " + image + "set zqauto 5").status, 0);
    EXPECT_EQ(vboard("env " + image + "print zqauto").out, "zqauto=5\n");
    EXPECT_EQ(vboard("env " + dir() + " print zqauto").out,
              "zqauto=1\n");  // the board is not the dump
    EXPECT_NE(vboard("id " + image + "show").out.find("UUID: [ZQ-UUID-PLACEHOLDER-0001]"),
              std::string::npos);
    EXPECT_EQ(vboard("env --image " + dump + " print").status, 1);  // the size is needed
    EXPECT_EQ(vboard("env --image " + dump + " --mtd0-size 0x10000 print").status,
              1);  // dump too big
    EXPECT_EQ(vboard("env --image " + dump + " --mtd0-size 0xFFFF0000 print").status, 1);
}

}  // namespace
