// The Wi-Fi unit's killers, walking "/proc" under g_ProcMutex.
#include "net/wifi_kill.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

#include "net/wifi_state.h"
#include "port/port.h"
#include "system/command_line.h"

namespace zq::wifi {
namespace {

using zq::system::CommandLine;

// Walks the board's processes but this one; kills those `applies` picks.
// A refused kill does not end the walk: `refused` hears of it (the pid and
// the program name) and the others are still killed. -1 when "/proc" cannot
// be read or any kill was refused; a process that ended meanwhile (ESRCH)
// is no refusal.
template <typename Applies, typename Refused>
int kill_walk(Applies applies, Refused refused) {
    std::lock_guard<std::mutex> hold(g_WifiState.g_ProcMutex);
    int result = 0;
    const bool walked = zq::system::for_each_process([&](pid_t pid, const CommandLine &line) {
        if (applies(line) && zq::port::kill(pid, SIGKILL) != 0 && errno != ESRCH) {
            refused(pid, line.program());
            result = -1;
        }
        return true;
    });
    return walked ? result : -1;
}

}  // namespace

ProcKillList MakeKillList(std::initializer_list<KillTarget> targets) {
    ProcKillList list{};
    for (const KillTarget &target : targets) {
        if (list.s32Count == 10) break;
        ProcKillEntry &entry = list.entries[list.s32Count++];
        std::snprintf(entry.name, sizeof entry.name, "%s", target.name);
        std::snprintf(entry.arg, sizeof entry.arg, "%s", target.arg ? target.arg : "");
    }
    return list;
}

int KillProcessList(const ProcKillList *list) {
    if (!list) return -1;
    const s32 count = list->s32Count < 0 ? 0 : list->s32Count > 10 ? 10 : list->s32Count;
    return kill_walk(
        [&](const CommandLine &line) {
            for (s32 i = 0; i < count; ++i) {
                const ProcKillEntry &e = list->entries[i];
                if (zq::system::command_is(line, {e.name, strnlen(e.name, sizeof e.name)},
                                           {e.arg, strnlen(e.arg, sizeof e.arg)}))
                    return true;
            }
            return false;
        },
        [](pid_t pid, std::string_view program) {
            std::printf("kill pid %d name %.*s failed\n", static_cast<int>(pid),
                        static_cast<int>(program.size()), program.data());
            std::fflush(stdout);
        });
}

int KillIwProcess() {
    return kill_walk([](const CommandLine &line) { return zq::system::command_is(line, "iw", {}); },
                    [](pid_t, std::string_view) {});
}

}  // namespace zq::wifi
