// Getting and releasing a video input frame through the SDK, next to the
// same two bare requests on the same emulator: what the family adds per
// frame in time, and in heap allocations (the emulator's own are in both).
// The board clock stands still, so a get never waits in real time.
#include <benchmark/benchmark.h>
#include <fcntl.h>

#include <atomic>
#include <cstdlib>

#include "allocations.h"
#include "bench_board.h"
#include "port/port.h"
#include "zq_vi.h"

namespace port = zq::port;

namespace {

// One board for the process: channel 0 at 256x16 (the emulator's own cost kept small), every frame
// of 30 kept.
void start_channel() {
    static const bool ready = [] {
        std::string dir = make_bench_board();
        zq::sim::set_clock_speed(dir, 0);
        const ViChnAttr attr{{0, 0, 1920, 1080}, {256, 16}, {}, 30, 30};
        if (ZQ_MPI_VI_Init() != 0 || ZQ_MPI_VI_SetChnAttr(0, &attr) != 0 ||
            ZQ_MPI_VI_SetFrmRate(0, 30, 30) != 0 || ZQ_MPI_VI_EnableChn(0) != 0)
            std::abort();
        return true;
    }();
    (void)ready;
}

void per_frame_allocations(benchmark::State &state, long before) {
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocations() - before) / static_cast<double>(state.iterations());
}

void BM_ViBareGetRelease(benchmark::State &state) {
    start_channel();
    int fd = port::open("/dev/vi", O_RDONLY);
    long before = allocations();
    for (auto _ : state) {
        ViDrvFrame frame{};
        if (port::ioctl(fd, ZQ_VI_GET_FRAME, &frame) != 0) std::abort();
        frame.u64Pts = 0;
        if (port::ioctl(fd, ZQ_VI_RELEASE_FRAME, &frame) != 0) std::abort();
    }
    per_frame_allocations(state, before);
    port::close(fd);
}
BENCHMARK(BM_ViBareGetRelease);

void BM_ViSdkGetRelease(benchmark::State &state) {
    start_channel();
    long before = allocations();
    for (auto _ : state) {
        ViFrameInfo frame;
        if (ZQ_MPI_VI_GetFrame(0, &frame) != 0) std::abort();
        if (ZQ_MPI_VI_ReleaseFrame(0, &frame) != 0) std::abort();
    }
    per_frame_allocations(state, before);
}
BENCHMARK(BM_ViSdkGetRelease);

}  // namespace

BENCHMARK_MAIN();
