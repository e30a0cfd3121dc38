// What a shell command costs through the SDK next to posix_spawn of the same
// command, at a low and a high descriptor limit: the child closes every
// inherited descriptor, which must not cost a call per possible descriptor.
// Runs on the host's own backend (no virtual board), as on the board.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "zq_system.h"

extern char **environ;

namespace {

// Sets the soft limit to the wanted one, or as near as the hard limit lets
// an unprivileged process (a container's hard limit may be lower); the
// limit in force is reported as the counter "fd_limit".
bool set_descriptor_limit(benchmark::State &state) {
    auto wanted = static_cast<rlim_t>(state.range(0));
    struct rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return false;
    struct rlimit raised = {wanted, wanted > files.rlim_max ? wanted : files.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &raised) != 0) {
        files.rlim_cur = wanted < files.rlim_max ? wanted : files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &files) != 0) return false;
    }
    getrlimit(RLIMIT_NOFILE, &files);
    state.counters["fd_limit"] = static_cast<double>(files.rlim_cur);
    return true;
}

void SafeSystemTrue(benchmark::State &state) {
    if (!set_descriptor_limit(state)) return state.SkipWithError("cannot set the descriptor limit");
    for (auto _ : state)
        if (ZQSDK_SafeSystem("true") != 0) return state.SkipWithError("command failed");
}

void PosixSpawnTrue(benchmark::State &state) {
    if (!set_descriptor_limit(state)) return state.SkipWithError("cannot set the descriptor limit");
    char sh[] = "sh", dashC[] = "-c", command[] = "true";
    char *argv[] = {sh, dashC, command, nullptr};
    for (auto _ : state) {
        pid_t pid = -1;
        int status = 0;
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0 ||
            waitpid(pid, &status, 0) != pid)
            return state.SkipWithError("spawn failed");
    }
}

}  // namespace

BENCHMARK(PosixSpawnTrue)->Arg(1024)->Arg(1048576)->Unit(benchmark::kMicrosecond);
BENCHMARK(SafeSystemTrue)->Arg(1024)->Arg(1048576)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv) {
    unsetenv("ZQ_VBOARD");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
