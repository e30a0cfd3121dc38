// Shell commands and the process killer of the zq_system unit.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "port/port.h"
#include "system/command_line.h"
#include "zq_log.h"
#include "zq_system.h"

namespace {

namespace port = zq::port;
using zq::system::CommandLine;

struct KillState {
    std::mutex g_KillMutex;  // held for a whole scan of "/proc"
    char g_KillCmdline[zq::system::kCommandLineSize] = {};
};

KillState g_Kill;

// Kills every matching process of "/proc" but the caller; 0 when the scan
// reached the end, -1 when "/proc" cannot be read or a kill is refused.
s32 KillByCmdline(const char *pProgName, const char *pProgArg) {
    std::lock_guard<std::mutex> hold(g_Kill.g_KillMutex);
    s32 result = 0;
    const bool walked = zq::system::for_each_process([&](pid_t pid, const CommandLine &line) {
        if (!zq::system::command_matches(line, pProgName, nullptr)) return true;
        std::memcpy(g_Kill.g_KillCmdline, line.text, sizeof g_Kill.g_KillCmdline);
        if (!zq::system::command_matches(line, pProgName, pProgArg)) return true;
        // A process that ended on its own since it was listed is no failure.
        if (port::kill(pid, SIGKILL) != 0 && errno != ESRCH) {
            result = -1;
            return false;
        }
        return true;
    });
    return walked ? result : -1;
}

}  // namespace

s32 ZQSDK_SafeSystem(const char *cmdline) noexcept {
    if (!cmdline) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "cmdline is NULL !\n");
        return -1;
    }
    int status = 0;
    const port::ShellRun ran = port::run_shell(cmdline, &status);
    if (ran == port::kShellNotStarted) return -1;
    if (ran == port::kShellNotWaited) {
        std::printf("------- kill\n");
        std::fflush(stdout);
        return -1;
    }
    if (!WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 0 ? 0 : 1;
}

s32 ZQSDK_Superkiller(const char *pProgName, const char *pProgArg) noexcept {
    if (!pProgName) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "pProgName is NUll !\n");
        return -1;
    }
    // An empty name is in every program name: it would kill every process.
    if (!*pProgName) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "pProgName is empty !\n");
        return -1;
    }
    return KillByCmdline(pProgName, pProgArg);
}
