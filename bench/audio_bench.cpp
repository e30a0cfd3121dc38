// The audio engine's costs: ring throughput; one frame through the
// enhancement chain with every stage off and on, next to the bare library
// calls on the same frames; a whole engine cycle with its driver I/O, the
// playback producer and the capture consumer; and heap allocations per
// frame, which must be 0 in steady state.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "allocations.h"
#include "audio/engine.h"
#include "audio/engine_thread.h"
#include "audio/vqe.h"
#include "audio/webrtc_api.h"
#include "bench_board.h"
#include "port/port.h"
#include "signals.h"
#include "zq_ai.h"

namespace port = zq::port;

// ---- test material: 10 s of a voice, and what a microphone hears of it ----

constexpr size_t kFrame = ZQ_AUDIO_FRAME_SAMPLES;
constexpr size_t kFrames = 500;

struct Material {
    std::vector<s16> played = signals::noise(kFrames * kFrame, 3000, 11);
    std::vector<s16> heard;
    Material() {
        heard = signals::echo_of(played, 240, 0.5);
        std::vector<s16> noise = signals::noise(heard.size(), 300, 12, 0);
        for (size_t i = 0; i < heard.size(); ++i) heard[i] = signals::clip(heard[i] + noise[i]);
    }
};
static const Material &material() {
    static const Material m;
    return m;
}

static void report_allocations(benchmark::State &state, long before) {
    if (kCountingAllocations)
        state.counters["allocs/frame"] = benchmark::Counter(
            static_cast<double>(allocations() - before) / static_cast<double>(state.iterations()));
}

// ---- the ring ----

static void RingWriteReadFrame(benchmark::State &state) {
    AudioRing *ring = audio_ring_create(kPlayRingBytes);
    u8 frame[320] = {}, out[320];
    audio_ring_write(ring, frame, 160);  // keep the positions moving across the wrap
    for (auto _ : state) {
        audio_ring_write(ring, frame, 320);
        audio_ring_read(ring, out, 320);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 320);
    audio_ring_free(ring);
}
BENCHMARK(RingWriteReadFrame);

// One producer thread streams frames into the 1600-byte capture ring while
// the benchmark thread drains 64 KiB per iteration, resetting when empty.
static void RingAcrossThreads(benchmark::State &state) {
    AudioRing *ring = audio_ring_create(kCapRingBytes);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        u8 frame[320] = {};
        while (!done.load(std::memory_order_relaxed))
            if (audio_ring_write(ring, frame, 320) == 0) std::this_thread::yield();
    });
    constexpr u32 kChunk = 64 * 1024;
    u8 out[320];
    for (auto _ : state) {
        for (u32 got = 0; got < kChunk;) {
            u32 n = audio_ring_read(ring, out, 320);
            audio_ring_reset_if_empty(ring);
            if (n == 0) std::this_thread::yield();
            got += n;
        }
    }
    done = true;
    producer.join();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
    audio_ring_free(ring);
}
BENCHMARK(RingAcrossThreads)->UseRealTime();

// ---- enhancement: the chain next to the bare library calls ----

// What the chain must call for one frame with every stage on, and nothing
// else (but the float conversion the floating-point suppressor needs).
static void BareLibraryCalls(benchmark::State &state) {
    void *aecm = WebRtcAecm_Create();
    WebRtcAecm_Init(aecm, 8000);
    WebRtcAecm_set_config(aecm, AecmConfig{1, 2});
    void *agc = WebRtcAgc_Create();
    WebRtcAgc_Init(agc, 0, 255, 3, 8000);
    WebRtcAgc_set_config(agc, WebRtcAgcConfig{3, 18, 1});
#if ZQ_HAVE_NSX
    void *ns = WebRtcNsx_Create();
    WebRtcNsx_Init(ns, 8000);
    WebRtcNsx_set_policy(ns, 2);
#else
    void *ns = WebRtcNs_Create();
    WebRtcNs_Init(ns, 8000);
    WebRtcNs_set_policy(ns, 2);
    float nsIn[80], nsOut[80];
#endif
    s16 a[kFrame], b[kFrame];
    size_t at = 0;
    for (auto _ : state) {
        const s16 *nearEnd = &material().heard[at * kFrame];
        const s16 *farEnd = &material().played[at * kFrame];
        WebRtcAecm_BufferFarend(aecm, farEnd, kFrame);
        WebRtcAecm_Process(aecm, nearEnd, nullptr, a, kFrame, 30);
        for (size_t half = 0; half < kFrame; half += 80) {
#if ZQ_HAVE_NSX
            const short *in = a + half;
            short *out = b + half;
            WebRtcNsx_Process(ns, &in, 1, &out);
#else
            // The floating-point suppressor needs its samples as floats.
            for (size_t i = 0; i < 80; ++i) nsIn[i] = a[half + i];
            const float *in = nsIn;
            float *out = nsOut;
            WebRtcNs_Analyze(ns, in);
            WebRtcNs_Process(ns, &in, 1, &out);
            for (size_t i = 0; i < 80; ++i) b[half + i] = static_cast<s16>(std::lrint(nsOut[i]));
#endif
            const s16 *agcIn = b + half;
            s16 *agcOut = a + half;
            int32_t level = 0;
            uint8_t saturation = 0;
            WebRtcAgc_Process(agc, &agcIn, 1, 80, &agcOut, 0, &level, 1, &saturation);
        }
        benchmark::DoNotOptimize(a);
        at = (at + 1) % kFrames;
    }
    WebRtcAecm_Free(aecm);
    WebRtcAgc_Free(agc);
#if ZQ_HAVE_NSX
    WebRtcNsx_Free(ns);
#else
    WebRtcNs_Free(ns);
#endif
}
BENCHMARK(BareLibraryCalls);

static VqeSwitches switches(const benchmark::State &state) {
    bool on = state.range(0) != 0;
    return {on, on, on};
}

static void ChainFrame(benchmark::State &state) {
    VqeChain chain;
    vqe_chain_create(chain);
    s16 out[kFrame];
    size_t at = 0;
    for (int warm = 0; warm < 50; ++warm)
        vqe_process(chain, switches(state), &material().heard[0], &material().played[0], out);
    long before = allocations();
    for (auto _ : state) {
        vqe_process(chain, switches(state), &material().heard[at * kFrame],
                    &material().played[at * kFrame], out);
        benchmark::DoNotOptimize(out);
        at = (at + 1) % kFrames;
    }
    report_allocations(state, before);
    vqe_chain_free(chain);
}
BENCHMARK(ChainFrame)->ArgName("stages")->Arg(0)->Arg(1);

// ---- a whole engine cycle on the virtual board ----

// The input reads a board file of 500 frames (rewound between passes), the
// output writes to a board path that leads to /dev/null. Each frame also
// pays the decoder's ring write and ZQ_MPI_AI_GetFrame.
struct EngineBench {
    EngineWork work;
    s32 micFd = -1;
    EngineBench() {
        std::string dir = std::getenv("ZQ_VBOARD");
        std::ofstream(dir + "/tmp/bench_mic", std::ios::binary)
            .write(reinterpret_cast<const char *>(material().heard.data()),
                   static_cast<std::streamsize>(material().heard.size() * sizeof(s16)));
        if (symlink("/dev/null", (dir + "/tmp/bench_speaker").c_str()) != 0) std::abort();
        g_AudioEngine.pstCapRing = audio_ring_create(kCapRingBytes);
        g_AudioEngine.pstPlayRing = audio_ring_create(kPlayRingBytes);
        g_AudioEngine.stAiAttr.u32SamplesPerFrame = ZQ_AUDIO_FRAME_SAMPLES;
        micFd = port::open("/tmp/bench_mic", O_RDONLY);
        g_AudioDevTable.aiFd = micFd;
        g_AudioDevTable.aoFd = port::open("/tmp/bench_speaker", O_WRONLY);
        if (micFd < 0 || g_AudioDevTable.aoFd < 0) std::abort();
        engine_work_init(work);
    }
};
static EngineBench &engine() {
    static EngineBench bench;
    return bench;
}

static void EngineCycleFrame(benchmark::State &state) {
    EngineBench &e = engine();
    bool on = state.range(0) != 0;
    VqeConfig stages{on, on, on};
    ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, &stages);
    s16 captured[kFrame];
    AudioFrame frame{};
    frame.pData = captured;
    size_t at = 0;
    auto one_frame = [&] {
        if (at == 0) port::lseek(e.micFd, 0, SEEK_SET);
        audio_ring_write(g_AudioEngine.pstPlayRing, &material().played[at * kFrame], 320);
        audio_engine_cycle(e.work);
        ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 0);
        at = (at + 1) % kFrames;
    };
    for (int warm = 0; warm < 50; ++warm) one_frame();
    long before = allocations();
    for (auto _ : state) one_frame();
    report_allocations(state, before);
}
BENCHMARK(EngineCycleFrame)->ArgName("stages")->Arg(0)->Arg(1);

int main(int argc, char **argv) {
    make_bench_board();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
