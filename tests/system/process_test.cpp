// Shell commands and the killer by command line, on a virtual board.
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "emul/board.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "system/command_line.h"
#include "zq_system.h"

namespace {

using ProcessTest = VBoardTest;

void NoteChild(int) {}

// The kernel reaps the children of a program that ignores SIGCHLD (or sets
// SA_NOCLDWAIT) unasked: the results stay those of the commands, and the
// program's disposition stays as it set it. A refused fork or wait fails.
TEST_F(ProcessTest, ShellCommandResultsFollowTheExitStatusWhateverSigchldIs) {
    const struct {
        const char *command;
        s32 result;
    } cases[] = {
        {"exit 0", 0},
        {"exit 3", 1},
        {"kill -9 $$", -1},
        {"zq_no_such_command_here", 1},
    };
    const struct {
        void (*handler)(int);
        int flags;
    } dispositions[] = {{SIG_DFL, 0}, {SIG_IGN, 0}, {NoteChild, SA_NOCLDWAIT}};
    for (const auto &d : dispositions) {
        struct sigaction action {
        }, now{};
        action.sa_handler = d.handler;
        action.sa_flags = d.flags;
        ::sigaction(SIGCHLD, &action, nullptr);
        for (const auto &c : cases)
            EXPECT_EQ(ZQSDK_SafeSystem(c.command), c.result) << c.command << " flags " << d.flags;
        ::sigaction(SIGCHLD, nullptr, &now);
        EXPECT_TRUE(now.sa_handler == d.handler && (now.sa_flags & SA_NOCLDWAIT) == d.flags);
    }
    capture_output([] { EXPECT_EQ(ZQSDK_SafeSystem(nullptr), -1); });
    ASSERT_TRUE(zq::sim::set_operation_failing(dir(), "fork", true));
    EXPECT_EQ(ZQSDK_SafeSystem("true"), -1);  // SIGCHLD still reaped unasked
    ::signal(SIGCHLD, SIG_DFL);
    ASSERT_TRUE(zq::sim::set_operation_failing(dir(), "fork", false) &&
                zq::sim::set_operation_failing(dir(), "wait", true));
    capture_output([] { EXPECT_EQ(ZQSDK_SafeSystem("true"), -1); });
}

TEST_F(ProcessTest, ShellCommandsSeeTheBoardTools) {
    write_board_file(dir(), "/bin/zq_probe", "#!/bin/sh\necho ran > \"$ZQ_VBOARD/tmp/probe\"\n");
    ::chmod(host("/bin/zq_probe").c_str(), 0755);
    EXPECT_EQ(ZQSDK_SafeSystem("zq_probe"), 0);
    EXPECT_TRUE(std::filesystem::exists(host("/tmp/probe")));
}

// Only processes of this board whose program name holds the name and whose
// command line the argument; a listed process that ended before its kill is
// no failure.
TEST_F(ProcessTest, KillerTakesOnlyTheMatchingProcessesOfThisBoard) {
    list_ended_process({"udhcpc", "-i", "wlan0"});
    pid_t wlan = start_idle({"udhcpc", "-i", "wlan0"});
    pid_t wlanAgain = start_idle({"/sbin/udhcpc", "-b", "-i", "wlan0"});
    pid_t eth = start_idle({"udhcpc", "-i", "eth0"});
    pid_t laterArg = start_idle({"runner", "udhcpc", "wlan0"});
    std::string other = dir() + "/../other", error;
    ASSERT_TRUE(zq::sim::create_board(other, &error)) << error;
    pid_t otherBoard = start_idle({"udhcpc", "-i", "wlan0"}, other);
    // A host process of the same command line, on no board (no ZQ_VBOARD), in
    // a group of its own, so that the test can end it whole; vfork returns
    // once it runs the shell.
    char *noEnv[] = {nullptr};
    pid_t hostProcess = ::vfork();
    if (hostProcess == 0) {
        ::setpgid(0, 0);
        ::execle("/bin/sh", "udhcpc", "-c", "sleep 60; :", "wlan0", nullptr, noEnv);
        ::_exit(127);
    }
    EXPECT_EQ(ZQSDK_Superkiller("udhcpc", "wlan0"), 0);
    EXPECT_EQ(ended_by(wlan), SIGKILL);
    EXPECT_EQ(ended_by(wlanAgain), SIGKILL);
    for (pid_t spared : {eth, laterArg, otherBoard, hostProcess})
        EXPECT_EQ(::kill(spared, 0), 0) << spared;
    ::kill(-hostProcess, SIGKILL);
    ::waitpid(hostProcess, nullptr, 0);
    capture_output([] {
        EXPECT_EQ(ZQSDK_Superkiller("", nullptr), -1);
        EXPECT_EQ(ZQSDK_Superkiller(nullptr, "wlan0"), -1);
    });
    EXPECT_EQ(::kill(eth, 0), 0);
}

TEST_F(ProcessTest, OnlyPlainDecimalNamesAreProcessIds) {
    pid_t pid = 0;
    for (const char *bad : {"", "0", "0123", "12a", "-5", "+5", "99999999999", "self"})
        EXPECT_FALSE(zq::system::plain_pid(bad, &pid)) << bad;
    EXPECT_TRUE(zq::system::plain_pid("2147483647", &pid));
    EXPECT_EQ(pid, 2147483647);
}

std::atomic<pid_t> g_testerPid{0}, g_handledElsewhere{0};

void NoteWhereHandled(int) {
    auto here = static_cast<pid_t>(::syscall(SYS_getpid));
    if (here != g_testerPid.load()) g_handledElsewhere.store(here);
}

// Signals that reach a shell's child before its exec run none of our
// handlers there, on our memory (the child of vfork shares it).
TEST_F(ProcessTest, NoHandlerOfOursRunsInAChildBeforeItsExec) {
    // A process group of its own, so that the flood of signals reaches
    // only the tester and its children.
    pid_t tester = ::fork();
    if (tester == 0) {
        ::setpgid(0, 0);
        g_testerPid = ::getpid();
        struct sigaction action {};
        action.sa_handler = NoteWhereHandled;
        ::sigaction(SIGWINCH, &action, nullptr);  // by default ignored: the shells live on
        std::atomic<bool> done{false};
        std::thread flood([&] {
            while (!done.load()) ::kill(0, SIGWINCH);
        });
        for (int i = 0; i < 200 && g_handledElsewhere.load() == 0; ++i) ZQSDK_SafeSystem("true");
        done = true;
        flood.join();
        ::_exit(g_handledElsewhere.load() == 0 ? 0 : 1);
    }
    ASSERT_GT(tester, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(tester, &status, 0), tester);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
