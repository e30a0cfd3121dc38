// The seam on a virtual board: paths stay inside the board, no descriptor
// reaches a child, and signals reach only the board.
#include "port/port.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "emul/board.h"
#include "support/vboard_fixture.h"
#include "zq_ai.h"
#include "zq_ao.h"
#include "zq_flash.h"
#include "zq_log.h"

namespace port = zq::port;

namespace {

using PortTest = VBoardTest;

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

TEST_F(PortTest, SignalsReachOnlyTheBoardsProcesses) {
    EXPECT_EQ(port::kill(getppid(), 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_EQ(port::kill(-1, SIGTERM), -1);
    EXPECT_NE(
        zq::sim::read_board_file(dir(), "/journal").find(" signal 0 refused: not a board process"),
        std::string::npos);
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
