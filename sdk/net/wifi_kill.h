// The Wi-Fi unit's process killers: the tools of one role before another
// role starts, and any "iw" left running before a scan or a channel change.
#pragma once

#include <initializer_list>

#include "zq_common.h"

namespace zq::wifi {

struct ProcKillEntry {
    char name[32];  // the program's base name, exactly
    char arg[32];   // one of its arguments, as a whole; empty: any
};

struct ProcKillList {
    s32 s32Count;  // entries in use
    ProcKillEntry entries[10];
};

struct KillTarget {
    const char *name;
    const char *arg;  // null: any
};

// A list of targets; names and arguments longer than 31 characters are
// never given by the unit (program names are fixed, interfaces at most 15).
ProcKillList MakeKillList(std::initializer_list<KillTarget> targets);

// SIGKILL to every board process that the first applicable entry names;
// never to this process. A process that ended meanwhile is no failure. A
// refused kill prints "kill pid %d name %s failed" on standard output and
// the walk goes on, so that every process that can be killed is. 0, or -1
// when "/proc" cannot be read or any kill was refused.
int KillProcessList(const ProcKillList *list);

// SIGKILL to every process whose program is "iw", the same way without the
// message. 0 or -1 as above.
int KillIwProcess();

}  // namespace zq::wifi
