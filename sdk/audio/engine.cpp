// The audio engine: its state, ZQ_MPI_AUDIO_Init and the worker thread
// "audio_process", which moves one 20 ms frame per cycle from the input
// driver through the enhancement chain into the capture ring, and one from
// the playback ring to the output driver.
#include "audio/engine.h"

#include <sched.h>
#include <sys/prctl.h>

#include <cstring>

#include "audio/engine_thread.h"
#include "port/port.h"
#include "zq_log.h"

namespace port = zq::port;

AudioDevTable g_AudioDevTable;
AudioEngineState g_AudioEngine;

namespace {

constexpr u32 kFrameBytes = ZQ_AUDIO_FRAME_BYTES;
constexpr u64 kReadRetryUs = 10000;  // after a failed input read
constexpr u64 kIdleUs = 100000;      // neither device enabled
constexpr u64 kFrameUs = 20000;      // one frame's time
constexpr u64 kTakePollMs = 1;
constexpr int kTakePolls = 1000;  // one second

// Claims the descriptor of a device slot for one driver call. The slot is
// read again after busyFd is published: either the taker sees busyFd and
// waits, or this thread sees the slot emptied and keeps its hands off.
s32 claim_device(std::atomic<s32> &slot) {
    s32 fd = slot.load();
    if (fd < 0) return -1;
    g_AudioEngine.busyFd.store(fd);
    if (slot.load() == fd) return fd;
    g_AudioEngine.busyFd.store(-1);
    return -1;
}

// Ends a driver call; closes the descriptor when a disable handed it over
// meanwhile.
void release_device() {
    s32 fd = g_AudioEngine.busyFd.exchange(-1);
    s32 handed = fd;
    if (g_AudioEngine.closeAfterUse.compare_exchange_strong(handed, -1)) port::close(fd);
}

// Input: 320 captured bytes, 0 when the input is disabled, -1 after a
// failed read (logged; the cycle ends there).
int capture_frame(EngineWork &work) {
    s32 fd = claim_device(g_AudioDevTable.aiFd);
    if (fd < 0) return 0;
    ssize_t got = port::read(fd, work.capture, kFrameBytes);
    release_device();
    if (got == static_cast<ssize_t>(kFrameBytes)) return static_cast<int>(kFrameBytes);
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AI, "read %d bytes,actual is %d bytes,fd %d\n",
            static_cast<int>(kFrameBytes), static_cast<int>(got), static_cast<int>(fd));
    port::sleep_us(kReadRetryUs);
    return -1;
}

// Output: one whole frame, the ring's bytes followed by silence. Returns
// whether the output is enabled. With the output disabled nothing is
// played, so the echo reference of the cycle is silence.
bool play_frame(EngineWork &work) {
    std::memset(work.playback, 0, sizeof work.playback);
    s32 fd = claim_device(g_AudioDevTable.aoFd);
    if (fd < 0) return false;
    AudioRing *ring = g_AudioEngine.pstPlayRing;
    audio_ring_read(ring, work.playback, kFrameBytes);
    audio_ring_reset_if_empty(ring);
    ssize_t put = port::write(fd, work.playback, kFrameBytes);
    release_device();
    // A refusing driver does not pace the loop: wait a frame's time instead
    // of spinning (the frame itself is lost, as a failed write always was).
    if (put != static_cast<ssize_t>(kFrameBytes)) port::sleep_us(kFrameUs);
    return true;
}

VqeSwitches current_switches() {
    return {g_AudioEngine.bAecOpen.load(std::memory_order_relaxed) != 0,
            g_AudioEngine.bAnrOpen.load(std::memory_order_relaxed) != 0,
            g_AudioEngine.bAgcOpen.load(std::memory_order_relaxed) != 0};
}

void *audio_process(void *) {
    prctl(PR_SET_NAME, "audio_process", 0, 0, 0);
    // Ctrl-C and the like are the application's to take, on its own threads.
    port::refuse_termination_signals();
    EngineWork work;
    // A stage whose instance could not be made passes frames through.
    (void)engine_work_init(work);
    while (!g_AudioEngine.stopRequested.load(std::memory_order_acquire)) audio_engine_cycle(work);
    engine_work_release(work);
    return nullptr;
}

}  // namespace

int engine_work_init(EngineWork &work) {
    std::memset(work.capture, 0, sizeof work.capture);
    std::memset(work.playback, 0, sizeof work.playback);
    std::memset(work.work, 0, sizeof work.work);
    return vqe_chain_create(work.vqe);
}

void engine_work_release(EngineWork &work) {
    vqe_chain_free(work.vqe);
}

void audio_engine_cycle(EngineWork &work) {
    int captured = capture_frame(work);
    if (captured < 0) return;
    bool playing = play_frame(work);
    // A cycle without a captured frame has nothing to hand on: the callback
    // and the chain would only see the previous frame again.
    if (captured > 0) {
        if (AudioDataCallback callback = g_AudioEngine.pfnCapCallback.load())
            callback(reinterpret_cast<u8 *>(work.capture), captured);
        (void)vqe_process(work.vqe, current_switches(), work.capture, work.playback, work.work);
        audio_ring_write(g_AudioEngine.pstCapRing, work.work, static_cast<u32>(captured));
    } else if (!playing) {
        port::sleep_us(kIdleUs);
    }
}

s32 audio_get_ao_fd(AudioDevId devId) {
    return devId == 0 ? g_AudioDevTable.aoFd.load(std::memory_order_acquire) : -1;
}

s32 audio_open_device(std::atomic<s32> &slot, const char *path, int flags, bool *alreadyOpen) {
    *alreadyOpen = slot.load(std::memory_order_acquire) >= 0;
    return port::open_kept(slot, path, flags);
}

s32 audio_take_device_fd(std::atomic<s32> &slot) {
    s32 fd = slot.exchange(-1);
    if (fd < 0) return -1;
    for (int poll = 0; poll < kTakePolls && g_AudioEngine.busyFd.load() == fd; ++poll)
        port::sleep_ms(kTakePollMs);
    if (g_AudioEngine.busyFd.load() != fd) return fd;
    // Still inside the call (a stuck driver): the thread closes it on its
    // way out. Whichever of the two sees the other first does the close.
    g_AudioEngine.closeAfterUse.store(fd);
    if (g_AudioEngine.busyFd.load() == fd) return -1;
    s32 handed = fd;
    return g_AudioEngine.closeAfterUse.compare_exchange_strong(handed, -1) ? fd : -1;
}

void audio_engine_stop() {
    if (!g_AudioEngine.started.load()) return;
    g_AudioEngine.stopRequested.store(true, std::memory_order_release);
    pthread_join(g_AudioEngine.thread, nullptr);
    g_AudioEngine.stopRequested.store(false);
    g_AudioEngine.started.store(false);
}

extern "C" s32 ZQ_MPI_AUDIO_Init(void) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AI, "[%s]: \n", "ZQ_MPI_AUDIO_Init");
    // One engine per process: a second thread would drain the same rings.
    if (g_AudioEngine.started.exchange(true)) return 0;
    // The rings exist before the thread and before this call returns, so a
    // caller can fill or drain them at once. A failed ring or thread leaves
    // the engine unstarted; the next call tries again.
    if (!g_AudioEngine.pstCapRing) g_AudioEngine.pstCapRing = audio_ring_create(kCapRingBytes);
    if (!g_AudioEngine.pstPlayRing) g_AudioEngine.pstPlayRing = audio_ring_create(kPlayRingBytes);
    if (!g_AudioEngine.pstCapRing || !g_AudioEngine.pstPlayRing) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AI, "audio ring create failed\n");
        g_AudioEngine.started.store(false);
        return 0;
    }
    g_AudioEngine.bAecOpen.store(0);
    g_AudioEngine.bAnrOpen.store(0);
    g_AudioEngine.bAgcOpen.store(0);
    g_AudioEngine.stAiAttr.u32SamplesPerFrame = ZQ_AUDIO_FRAME_SAMPLES;
    if (pthread_create(&g_AudioEngine.thread, nullptr, audio_process, nullptr) != 0) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AI, "create audio_process thread failed\n");
        g_AudioEngine.started.store(false);
        return 0;
    }
    (void)port::set_realtime(g_AudioEngine.thread, SCHED_RR, 99, "audio_process");
    return 0;
}
