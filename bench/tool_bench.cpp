// The provisioning tool's whole run on a virtual board at clock speed 1,
// from its start to the end of its prompt (the output device closed), and
// what is left of it after the time the run itself prescribes: the 1 s
// drain wait, and the part of the 1 s prompt that cannot be queued ahead of
// the 0.5 s playback ring. The rest is our overhead.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench_board.h"
#include "port/port.h"

extern char **environ;

namespace {

constexpr double kPrescribedSeconds = 1.0 + (1.0 - 0.5);

std::string g_board;

// Board time of the n-th journal line with event, or -1.
double nth_event(const char *event, int n) {
    int seen = 0;
    for (const std::string &line : zq::sim::journal_lines(g_board)) {
        if (line.find(event) == std::string::npos) continue;
        if (++seen == n) return std::stod(line.substr(0, line.find(' ')));
    }
    return -1;
}

void ToolRunOverhead(benchmark::State &state) {
    std::ofstream(g_board + "/mnt/factory/provision.txt") << "APP_ID=bench\nUUID=u\nKEY=k\n";
    int runs = 0;
    double overhead = 0, toFirstFrame = 0;
    for (auto _ : state) {
        std::remove((g_board + "/mnt/factory/sucess").c_str());
        const double start = static_cast<double>(zq::port::monotonic_ns()) / 1e9;
        char tool[] = ZQ_PROVISION_TOOL, arg[] = "/mnt/factory/provision.txt";
        char *argv[] = {tool, arg, nullptr};
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid;
        if (posix_spawn(&pid, tool, &quiet, nullptr, argv, environ) != 0)
            state.SkipWithError("spawn");
        posix_spawn_file_actions_destroy(&quiet);
        ++runs;
        double closed;
        while ((closed = nth_event(" /dev/ao close", runs)) < 0) usleep(2000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        state.SetIterationTime(closed - start);
        overhead += (closed - start - kPrescribedSeconds) * 1000;
        // Of that: the tool's own work up to its first speaker frame.
        toFirstFrame += (nth_event(" /dev/ao first frame", runs) - start) * 1000;
    }
    state.counters["overhead_ms"] =
        benchmark::Counter(overhead, benchmark::Counter::kAvgIterations);
    state.counters["to_first_frame_ms"] =
        benchmark::Counter(toFirstFrame, benchmark::Counter::kAvgIterations);
}
BENCHMARK(ToolRunOverhead)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    g_board = make_bench_board();
    zq::port::monotonic_ns();  // this process reads the board clock too
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
