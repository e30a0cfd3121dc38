// The vboard command as a person uses it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
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
    CliRun all = vboard("--help");
    EXPECT_EQ(all.status, 0);
    EXPECT_NE(all.out.find("create"), std::string::npos);
    EXPECT_NE(all.out.find("journal"), std::string::npos);
    for (const char *verb : {"create", "journal"}) {
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
    {
        FILE *f = fopen(host("/journal").c_str(), "a");
        fputs("30.000001 42 /dev/log open\n", f);
        fclose(f);
    }
    CliRun journal = vboard("journal " + dir());
    EXPECT_EQ(journal.status, 0);
    EXPECT_EQ(journal.out, "30.000001 42 /dev/log open\n");
    CliRun notBoard = vboard("journal " + dir() + "/dev");
    EXPECT_EQ(notBoard.status, 1);
    EXPECT_NE(notBoard.out.find("is not a virtual board"), std::string::npos);
}

}  // namespace
