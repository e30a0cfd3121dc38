// The vboard command as a person uses it.
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "emul/board.h"
#include "emul/flash.h"
#include "support/vboard_fixture.h"

namespace {

// Runs vboard with args: it ends with status and prints exactly out
// (or, with outPart, something that holds it).
void expect_vboard(const std::string &args, int status, const std::string &out,
                   bool outPart = false) {
    CliRun run = vboard(args);
    EXPECT_EQ(run.status, status) << args << "\n" << run.out;
    if (outPart)
        EXPECT_NE(run.out.find(out), std::string::npos) << args << "\n" << run.out;
    else
        EXPECT_EQ(run.out, out) << args;
}

using VboardCliTest = VBoardTest;

// An id write changes only the fields it is given and keeps the environment valid.
TEST_F(VboardCliTest, EnvAndIdReadAndWriteTheFlash) {
    const std::string env = "env " + dir(), id = "id " + dir();
    expect_vboard(id + " write --app-id app-7 --mac 02:00:5e:10:20:30", 0, "", true);
    expect_vboard(id + " show", 0,
                  "version: 0x301\nlength: 134\nAPP_ID: [app-7]\nUUID: [ZQ-UUID-PLACEHOLDER-0001]\n"
                  "KEY: [ZQ-KEY-PLACEHOLDER-0000000000000001]\nMAC: 02:00:5e:10:20:30\n");
    expect_vboard(env + " print", 0, "bootdelay=1\nbaudrate=115200\nzqauto=1\n");
    expect_vboard(env + " set zqauto 0", 0, "zqauto=0 saved\n");
    expect_vboard(env + " print zqauto", 0, "zqauto=0\n");
    expect_vboard(env + " print nothere", 1, "vboard: nothere is not set\n");
}

// A dump is read and written without a board, and only with a size that
// fits it; a spoilt CRC shows as bad, on a board and in a dump; so does
// flash that ends before the environment.
TEST_F(VboardCliTest, DumpsWorkWithoutABoardAndBadCrcsShowAsBad) {
    std::string dump = dir() + "/tmp/mtd0.bin";
    ASSERT_TRUE(std::filesystem::copy_file(host("/dev/mtd0"), dump));
    std::string image = "--image " + dump + " --mtd0-size 0x30000";
    EXPECT_EQ(vboard("env " + image + " set zqauto 5").status, 0);
    expect_vboard("env " + image + " print zqauto", 0, "zqauto=5\n");
    expect_vboard("env " + dir() + " print zqauto", 0, "zqauto=1\n");  // the board is not the dump
    // No size, a dump too big for it, a size beyond any partition.
    for (const char *size : {"", "--mtd0-size 0x10000 ", "--mtd0-size 0xFFFF0000 "})
        EXPECT_EQ(vboard("env --image " + dump + " " + size + "print").status, 1) << size;
    ASSERT_TRUE(zq::sim::poke_flash(dir(), 0x20004, {'B'}));   // "bootdelay" is now "Bootdelay"
    ASSERT_TRUE(zq::sim::poke_flash(dir(), 0x2F830, {0x00}));  // the record's UUID, cut
    std::filesystem::copy_file(host("/dev/mtd0"), dump,
                               std::filesystem::copy_options::overwrite_existing);
    for (const std::string &where : {dir(), image}) {
        expect_vboard("env " + where + " print", 1, "vboard: bad CRC in the boot environment",
                      true);
        expect_vboard("id " + where + " show", 1,
                      "vboard: no valid identity record (magic 0xfead5238", true);
    }
    std::filesystem::resize_file(host("/dev/mtd0"), 0);
    expect_vboard("env " + dir() + " print", 1, "the flash image ends before the boot environment",
                  true);
}

// A started process is the board's, under the name it was given; a set
// changes board.json by its dotted path.
TEST_F(VboardCliTest, RunStartsABoardProcessAndSetEditsTheBoard) {
    std::ofstream(host("/bin/idle")) << "#!/bin/sh\nexec sleep 60\n";
    std::filesystem::permissions(host("/bin/idle"), std::filesystem::perms::owner_all);
    CliRun run = vboard("run " + dir() + " --as udhcpc -- idle -i wlan0");
    ASSERT_EQ(run.status, 0) << run.out;
    pid_t pid = std::stoi(run.out);
    EXPECT_EQ(zq::sim::read_board_file(dir(), "/proc/" + std::to_string(pid) + "/cmdline"),
              std::string("udhcpc\0-i\0wlan0\0", 16));
    kill(pid, SIGKILL);
    expect_vboard("run " + dir() + " -- zq-no-such-program", 1, "no such program", true);
    expect_vboard("set " + dir() + " temperature.value 61", 0, "");
    expect_vboard("set " + dir() + " temperature.unit celsius", 0, "");
    std::string board = zq::sim::read_board_file(dir(), "/board.json");
    EXPECT_NE(board.find("\"value\": 61"), std::string::npos) << board;
    EXPECT_NE(board.find("\"unit\": \"celsius\""), std::string::npos) << board;
    expect_vboard("set " + dir() + " temperature.value.x 1", 1, "not an object", true);
}

}  // namespace
