// The seam on a virtual board: paths stay inside the board, the clock runs at
// the board's speed, the fault knobs act, no descriptor reaches a child, and
// signals reach only the board. (Commands see the board's tools: every test
// of a tool shows it.)
#include "port/port.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "emul/board.h"
#include "support/vboard_fixture.h"
#include "zq_ai.h"
#include "zq_ao.h"
#include "zq_flash.h"
#include "zq_log.h"

namespace port = zq::port;

namespace {

class PortTest : public VBoardTest {
  protected:
    bool journal_has(const std::string &pattern) {
        std::regex re(pattern);
        for (const std::string &line : zq::sim::journal_lines(dir()))
            if (std::regex_search(line, re)) return true;
        return false;
    }
};

TEST_F(PortTest, AbsolutePathsResolveInsideTheBoardAndTranslateForCommands) {
    FILE *f = port::fopen("/tmp/../../../../zq-probe", "w");
    ASSERT_NE(f, nullptr);
    std::fputs("inside", f);
    port::fclose(f);
    EXPECT_EQ(zq::sim::read_board_file(dir(), "/zq-probe"), "inside");
    EXPECT_NE(access((dir() + "/../zq-probe").c_str(), F_OK), 0);  // nothing above the board root
    // Links stay inside the board, as under chroot: absolute targets start at its root.
    ASSERT_EQ(symlink("/var", host("/tmp/abs").c_str()), 0);
    ASSERT_EQ(symlink("../../../mnt", host("/tmp/up").c_str()), 0);
    ASSERT_EQ(symlink("loop", host("/tmp/loop").c_str()), 0);
    for (const char *path : {"/tmp/abs/probe", "/tmp/up/probe"}) {
        f = port::fopen(path, "w");
        ASSERT_NE(f, nullptr) << path;
        port::fclose(f);
    }
    EXPECT_TRUE(std::filesystem::exists(host("/var/probe")));
    EXPECT_TRUE(std::filesystem::exists(host("/mnt/probe")));
    EXPECT_EQ(port::fopen("/tmp/loop", "w"), nullptr);
    // Command texts name board paths by their host path.
    char out[512];
    ASSERT_EQ(port::host_path("/usr/bin/../bin/x", out, sizeof out), 0);
    EXPECT_EQ(std::string(out), dir() + "/usr/bin/x");
    char small[8];
    EXPECT_EQ(port::host_path("/usr/bin/x", small, sizeof small), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
}

// A stopped clock moves only with sleeps; a running one at the board's speed.
TEST_F(PortTest, ClockStopsOrRunsAtTheBoardSpeed) {
    freeze_clock(12.005, 1000);
    struct timespec ts {};
    port::clock_gettime(CLOCK_MONOTONIC, &ts);
    EXPECT_EQ(ts.tv_sec, 12);
    EXPECT_EQ(ts.tv_nsec, 5000000);
    port::sleep_ms(2500);
    EXPECT_EQ(port::monotonic_ns(), 14505000000u);
    port::clock_gettime(CLOCK_REALTIME, &ts);
    EXPECT_EQ(ts.tv_sec, 1002);
    EXPECT_EQ(ts.tv_nsec, 500000000);
    ASSERT_TRUE(zq::sim::set_clock_speed(dir(), 100));
    uint64_t before = port::monotonic_ns();
    usleep(20000);  // 20 ms of host time is at least 2 s of board time
    EXPECT_GE(port::monotonic_ns() - before, 2000000000u);
    before = port::monotonic_ns();
    port::sleep_ms(3000);  // a board sleep lasts at least its board length
    EXPECT_GE(port::monotonic_ns() - before, 3000000000u);
}

TEST_F(PortTest, FaultKnobsMakeDevicesMissingAndRequestsRefused) {
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "//tmp/../dev/./log", true));
    EXPECT_EQ(port::open("/dev/log", O_WRONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(port::access("/dev/log", F_OK), -1);
    EXPECT_TRUE(journal_has("^[0-9]+\\.[0-9]{6} [0-9]+ /dev/log open refused: device missing$"));

    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/log", false));
    ASSERT_TRUE(zq::sim::refuse_request(dir(), "/dev/log", 0x800C4C00, 2, 1, EINVAL));
    int fd = port::open("/dev/log", O_WRONLY);
    ASSERT_GE(fd, 0);
    char table[120];
    EXPECT_EQ(port::ioctl(fd, 0x800C4C00, table), 0);
    EXPECT_EQ(port::ioctl(fd, 0x800C4C00, table), 0);
    EXPECT_EQ(port::ioctl(fd, 0x800C4C00, table), -1);  // the third is refused
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(port::ioctl(fd, 0x800C4C00, table), 0);  // and only the third
    port::close(fd);
    EXPECT_TRUE(journal_has(" /dev/log ioctl 0x800C4C00 refused: Invalid argument$"));
    EXPECT_TRUE(journal_has(" /dev/log close$"));
}

TEST_F(PortTest, CommandsGiveTheirExitStatus) {
    const int status = port::system("exit 3");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
}

// Nothing the SDK holds open (flash, devices, its log file, a pipe) reaches a
// command that it or its application starts.
TEST_F(PortTest, NoSdkDescriptorReachesAChild) {
    char value[8];
    ASSERT_EQ(ZQSDK_EnvReadKeyValue("zqauto", value, sizeof value), 0);  // mtd0 stays open
    ASSERT_EQ(mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "held\n"), 0);         // "/dev/log" too
    ASSERT_EQ(ZQ_MPI_AO_Enable(0), 0);
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    LogParam file{};
    std::snprintf(file.szFilePath, sizeof file.szFilePath, "/var/sdk.log");
    ASSERT_EQ(ZQSDK_SetLog2File(&file), 0);
    FILE *held = port::popen("cat", "w");
    ASSERT_TRUE(held);
    struct stat pipe {};
    ASSERT_EQ(fstat(fileno(held), &pipe), 0);
    FILE *child = port::popen("ls -l /proc/self/fd/", "r");
    ASSERT_TRUE(child);
    std::string listing;
    for (int c; (c = std::fgetc(child)) != EOF;) listing += static_cast<char>(c);
    port::pclose(child);
    port::pclose(held);
    EXPECT_NE(listing.find("0 ->"), std::string::npos) << listing;
    EXPECT_EQ(listing.find(dir()), std::string::npos) << listing;
    EXPECT_EQ(listing.find("pipe:[" + std::to_string(pipe.st_ino) + "]"), std::string::npos);
}

// (The board's own processes, started through the shell, the Wi-Fi tools'
// tests signal.)
TEST_F(PortTest, SignalsReachOnlyTheBoardsProcesses) {
    EXPECT_EQ(port::kill(getppid(), 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_EQ(port::kill(-1, SIGTERM), -1);

    EXPECT_TRUE(journal_has(" kill pid [0-9]+ signal 0 refused: not a board process$"));
}

// The backend is chosen once per process: one choice per test.
TEST(PortChoice, WithoutVirtualBoardTheLinuxBackendServes) {
    unsetenv("ZQ_VBOARD");
    EXPECT_EQ(&port::ops(), &port::linux_ops());
}

TEST(PortChoice, ANamedDirectoryThatIsNoBoardStopsTheProcess) {
    EXPECT_EXIT(
        {
            setenv("ZQ_VBOARD", "/nonexistent/board", 1);
            port::monotonic_ns();
        },
        testing::ExitedWithCode(70), "ZQ_VBOARD=/nonexistent/board is not a virtual board");
}

}  // namespace
