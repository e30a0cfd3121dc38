// The virtual camera with a picture source of the user's, at board speed 1:
// a 1920x1080 YUV4MPEG2 video before channel 0's 1920x1080 capture at 30
// frames a second, every frame fetched and released through the SDK; and
// `vboard vo record` of the 800x480 panel showing that capture, 60 frames a
// second. Each reports the CPU it spends per frame against the frame's
// period (33.3 ms and 16.7 ms): below it, the board keeps up.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_board.h"
#include "board/vi_sources.h"
#include "emul/y4m.h"
#include "zq_vi.h"

extern char **environ;

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080, kFrames = 8;

double cpu_seconds(int who) {
    rusage use{};
    getrusage(who, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// A board whose channel 0 sees a moving 1080p video (8 frames, looping).
const std::string &board() {
    static const std::string dir = [] {
        std::string made = make_bench_board();
        // The video and the recording are large: gone with the process.
        static const std::string parent = std::filesystem::path(made).parent_path();
        std::atexit([] { std::filesystem::remove_all(parent); });
        std::ofstream video(made + "/../source.y4m", std::ios::binary);
        video << zq::sim::y4m_header(kWidth, kHeight, 30);
        std::string planes(zq::sim::i420_size(kWidth, kHeight), '\x80');
        for (uint32_t f = 0; f < kFrames; ++f) {
            for (uint32_t y = 0; y < kHeight; ++y)
                for (uint32_t x = 0; x < kWidth; ++x)
                    planes[size_t{y} * kWidth + x] = static_cast<char>(16 + (x + 40 * f) % 220);
            video << "FRAME\n" << planes;
        }
        video.close();
        std::string shown, error;
        if (!zq::sim::set_vi_source(made, 0, made + "/../source.y4m", &shown, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        return made;
    }();
    return dir;
}

void ViVideoSource1080p(benchmark::State &state) {
    board();
    const ViChnAttr attr{{0, 0, kWidth, kHeight}, {kWidth, kHeight}, {}, 30, 30};
    if (ZQ_MPI_VI_Init() != 0 || ZQ_MPI_VI_SetChnAttr(0, &attr) != 0 ||
        ZQ_MPI_VI_SetFrmRate(0, 30, 30) != 0 || ZQ_MPI_VI_EnableChn(0) != 0)
        std::abort();
    const double cpu = cpu_seconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ViFrameInfo frame;
        if (ZQ_MPI_VI_GetFrame(0, &frame) != 0 || ZQ_MPI_VI_ReleaseFrame(0, &frame) != 0)
            std::abort();
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double frames = static_cast<double>(state.iterations());
    state.counters["cpu_ms_per_frame"] = (cpu_seconds(RUSAGE_SELF) - cpu) * 1e3 / frames;
    state.counters["frame_period_ms"] = 1e3 / 30;
    state.counters["frames_per_second"] = frames / wall;
    ZQ_MPI_VI_DisableChn(0);
}
BENCHMARK(ViVideoSource1080p)->Iterations(90)->UseRealTime()->Unit(benchmark::kMillisecond);

int run(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// camera_demo sets up the panel (the capture at 640x360 in an 800x480
// timing, with a clock overlay and a cover); the recording runs after it.
void VoRecord800x480(benchmark::State &state) {
    const std::string &dir = board();
    if (run({ZQ_CAMERA_DEMO}) != 0) std::abort();
    const std::string out = dir + "/../display.y4m";
    constexpr int kSeconds = 2;
    for (auto _ : state) {
        const double cpu = cpu_seconds(RUSAGE_CHILDREN);
        if (run({ZQ_VBOARD_TOOL, "vo", dir, "record", out, "--seconds", "2"}) != 0) std::abort();
        state.counters["cpu_ms_per_frame"] =
            (cpu_seconds(RUSAGE_CHILDREN) - cpu) * 1e3 / (kSeconds * 60);
    }
    state.counters["frame_period_ms"] = 1e3 / 60;
}
BENCHMARK(VoRecord800x480)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
