// What logging costs a caller: a suppressed SDK line should cost a
// comparison; an MPI line pays a clock read and a driver request even when
// filtered out.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include "bench_board.h"
#include "zq_log.h"

static void SdkLogSuppressed(benchmark::State &state) {
    for (auto _ : state) sdk_log(ZQ_LOG_DEBUG, "env", "bench", 1, "value %d\n", 42);
}
BENCHMARK(SdkLogSuppressed);

static void SdkLogWrittenToFile(benchmark::State &state) {
    static bool redirected = [] {
        LogParam p = {"/var/bench.log", 4 << 20};
        FILE *quiet = freopen("/dev/null", "w", stdout);
        (void)quiet;
        return ZQSDK_SetLog2File(&p) == 0;
    }();
    if (!redirected) state.SkipWithError("no log file");
    for (auto _ : state) sdk_log(ZQ_LOG_INFO, "env", "bench", 1, "value %d\n", 42);
}
BENCHMARK(SdkLogWrittenToFile);

static void MpiLogFilteredOut(benchmark::State &state) {
    for (auto _ : state) mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "trace %d\n", 1);
}
BENCHMARK(MpiLogFilteredOut);

int main(int argc, char **argv) {
    make_bench_board();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
