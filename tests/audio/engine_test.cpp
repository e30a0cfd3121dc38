// The engine thread: start-up, the idle cycle, playback from the ring,
// capture into the ring (callback, full ring, failed reads), and frames on
// their way through the enhancement chain; and the chain itself.
#include <sys/ioctl.h>

#include <fstream>

#include "audio/vqe.h"
#include "engine_fixture.h"
#include "signals.h"

namespace sim = zq::sim;

namespace {

constexpr size_t kFrame = ZQ_AUDIO_FRAME_SAMPLES;

// The raw frames the capture callback saw; the engine thread alone writes.
std::vector<s16> g_calledBack[16];
std::atomic<size_t> g_calls{0};
void record_frame(u8 *data, s32 length) {
    const s16 *samples = reinterpret_cast<const s16 *>(data);
    if (size_t n = g_calls.load(); n < 16) g_calledBack[n].assign(samples, samples + length / 2);
    g_calls.fetch_add(1);
}

class AudioEngine : public EngineTest {
  protected:
    void start() {
        ASSERT_TRUE(sim::set_clock_speed(dir(), 50));
        ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
        ASSERT_EQ(ZQ_MPI_AI_SetCallback(record_frame), 0);
    }
    // A blocking capture: the frame's samples, after checking its number.
    std::vector<s16> next_frame(u32 seq) {
        EXPECT_EQ(get_frame(1), 0);
        EXPECT_EQ(frame_.u32Seq, seq);
        EXPECT_EQ(frame_.u32Len, 320u);
        return {samples_, samples_ + kFrame};
    }
};

// A second call starts nothing; with neither device enabled the thread sleeps.
TEST_F(AudioEngine, InitStartsOneRealTimeThreadOnceThatSleepsWhenIdle) {
    freeze_clock(1);
    EXPECT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    g_AudioEngine.bAgcOpen = 1;
    EXPECT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    EXPECT_EQ(g_AudioEngine.bAgcOpen, 1);
    EXPECT_EQ(journal_events("sched"),
              std::vector<std::string>{"audio_process policy 2 priority 99 (not applied)"});
    EXPECT_TRUE(eventually([] { return sim::board_monotonic_ns() >= 2'000'000'000; }));
}

TEST_F(AudioEngine, PlaybackSendsRingBytesPaddedWithSilence) {
    start();
    std::vector<s16> first = pattern_frame(1);
    ASSERT_EQ(audio_ring_write(g_AudioEngine.pstPlayRing, first.data(), 100), 100u);
    speaker_ = plug(g_AudioDevTable.aoFd, "/tmp/speaker", O_WRONLY);
    std::vector<s16> expected(kFrame, 0);
    std::copy(first.begin(), first.begin() + 50, expected.begin());
    EXPECT_EQ(played_frame(), expected);
    EXPECT_EQ(g_calls.load(), 0u);  // nothing captured, nothing called back
}

TEST_F(AudioEngine, CapturedFramesGoRawToTheCallbackAndInOrderIntoTheRingUntilItIsFull) {
    start();
    mic_ = plug(g_AudioDevTable.aiFd, "/tmp/mic", O_RDONLY);
    for (int n = 0; n < 3; ++n) {
        hear(pattern_frame(n).data(), kFrame);
        EXPECT_EQ(next_frame(static_cast<u32>(n)), pattern_frame(n));  // stages off: untouched
    }
    // Eight frames at once: the ring keeps the oldest five and drops the rest.
    for (int n = 3; n < 11; ++n) hear(pattern_frame(n).data(), kFrame);
    ASSERT_TRUE(eventually([] { return g_calls.load() == 11; }));
    for (int n = 3; n < 8; ++n) EXPECT_EQ(next_frame(static_cast<u32>(n)), pattern_frame(n));
    EXPECT_EQ(get_frame(0), static_cast<s32>(0xA015800E));
    for (int n = 0; n < 11; ++n) EXPECT_EQ(g_calledBack[size_t(n)], pattern_frame(n));
}

TEST_F(AudioEngine, FailedReadIsLoggedAndRetriedAndEndsItsCycle) {
    std::ofstream(host("/tmp/short_mic")) << std::string(100, 'x');
    start();
    g_AudioDevTable.aiFd = zq::port::open("/tmp/short_mic", O_RDONLY);
    const std::string fd = std::to_string(g_AudioDevTable.aiFd);
    auto reads = [&](const char *got) {  // logged reads that got so many bytes
        return count_of(log_text(), std::string("<3>ai read 320 bytes,actual is ") + got +
                                        " bytes,fd " + fd + "\n");
    };
    // The speaker comes once a cycle has failed its read: a cycle that began
    // before the microphone was there may still play a frame.
    ASSERT_TRUE(eventually([&] { return reads("100") == 1; }));
    speaker_ = plug(g_AudioDevTable.aoFd, "/tmp/speaker", O_WRONLY);
    ASSERT_TRUE(eventually([&] { return reads("0") > 2; }));
    EXPECT_EQ(reads("100"), 1u);
    int waiting = -1;
    ASSERT_EQ(::ioctl(speaker_, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 0);  // nothing played
    EXPECT_EQ(g_calls.load(), 0u);
    EXPECT_EQ(audio_ring_held(g_AudioEngine.pstCapRing), 0u);
}

// Every stage on while the speaker plays a voice and the microphone hears
// only its echo: the frame played in a cycle is the echo reference of the
// frame captured in it, and no frame goes missing.
TEST_F(AudioEngine, WithAllStagesOnEchoIsReducedAndNoFrameIsLost) {
    start();
    mic_ = plug(g_AudioDevTable.aiFd, "/tmp/mic", O_RDONLY);
    // The speaker comes once the engine waits on the microphone, so that no
    // cycle begun without it plays a frame of its own.
    ASSERT_TRUE(
        eventually([] { return g_AudioEngine.busyFd.load() == g_AudioDevTable.aiFd.load(); }));
    speaker_ = plug(g_AudioDevTable.aoFd, "/tmp/speaker", O_WRONLY);
    VqeConfig allOn{1, 1, 1};
    ASSERT_EQ(ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, &allOn), 0);
    std::vector<s16> voice = signals::noise(250 * kFrame, 3000, 7);
    std::vector<s16> heard = signals::echo_of(voice, 240, 0.5), captured;
    for (size_t n = 0; n < 250; ++n) {
        ASSERT_EQ(audio_ring_write(g_AudioEngine.pstPlayRing, &voice[n * kFrame], 320), 320u);
        hear(&heard[n * kFrame], kFrame);
        std::vector<s16> out = next_frame(static_cast<u32>(n));
        captured.insert(captured.end(), out.begin(), out.end());
        ASSERT_TRUE(std::equal(voice.begin() + long(n * kFrame),
                               voice.begin() + long((n + 1) * kFrame), played_frame().begin()));
    }
    EXPECT_LT(signals::level_db(captured, 32000), signals::level_db(heard, 32000) - 10);
}

constexpr size_t kSamples = 5 * 8000, kLastSecond = kSamples - 8000;

// The enhancement chain alone, on synthetic signals: each stage does its
// job and no library call fails.
struct StageCase {
    const char *name;
    VqeSwitches on;
    std::vector<s16> nearEnd, farEnd;
    double minChangeDb;  // the last second's level, after minus before, at least |this|
};

TEST(VqeChain, EachStageDoesItsJobAndEveryLibraryCallSucceeds) {
    std::vector<s16> voice = signals::noise(kSamples, 3000, 2), silence(kSamples, 0);
    std::vector<s16> hiss = signals::noise(kSamples, 1000, 3, 0);  // stationary white noise
    const StageCase cases[] = {
        // The speaker plays a voice, the microphone hears it 30 ms later at -6 dB.
        {"echo cancellation", {true, false, false}, signals::echo_of(voice, 240, 0.5), voice, -10},
        {"noise suppression", {false, true, false}, hiss, silence, -10},
        {"gain control", {false, false, true}, signals::quiet_voice(kSamples, 300), silence, 10},
    };
    for (const StageCase &c : cases) {
        VqeChain chain;
        ASSERT_EQ(vqe_chain_create(chain), 0);
        std::vector<s16> out(kSamples);
        int failures = 0;
        for (size_t at = 0; at < kSamples; at += kVqeFrameSamples)
            failures += vqe_process(chain, c.on, &c.nearEnd[at], &c.farEnd[at], &out[at]);
        vqe_chain_free(chain);
        EXPECT_EQ(failures, 0) << c.name;
        double change =
            signals::level_db(out, kLastSecond) - signals::level_db(c.nearEnd, kLastSecond);
        EXPECT_GT(c.minChangeDb < 0 ? -change : change, std::fabs(c.minChangeDb)) << c.name;
    }
}

}  // namespace
