// The engine thread: start-up, the idle cycle, playback from the ring,
// capture into the ring (callback, full ring, failed reads), and frames on
// their way through the enhancement chain.
#include <sys/ioctl.h>

#include <fstream>

#include "engine_fixture.h"
#include "signals.h"

namespace sim = zq::sim;

namespace {

constexpr size_t kFrame = ZQ_AUDIO_FRAME_SAMPLES;

size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

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

TEST_F(AudioEngine, InitStartsOneRealTimeThreadOnceWithItsRingsAndDefaults) {
    ASSERT_TRUE(sim::set_log_levels(dir(), {{"ai", 6}}));
    g_AudioEngine.bAecOpen = g_AudioEngine.bAnrOpen = g_AudioEngine.bAgcOpen = 1;
    EXPECT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    EXPECT_EQ(g_AudioEngine.bAecOpen + g_AudioEngine.bAnrOpen + g_AudioEngine.bAgcOpen, 0);
    EXPECT_EQ(g_AudioEngine.stAiAttr.u32SamplesPerFrame, 160u);
    ASSERT_TRUE(g_AudioEngine.pstCapRing && g_AudioEngine.pstPlayRing);
    EXPECT_EQ(g_AudioEngine.pstCapRing->u32Size + g_AudioEngine.pstPlayRing->u32Size, 9600u);
    // A second call is traced, starts nothing and changes nothing.
    g_AudioEngine.bAgcOpen = 1;
    EXPECT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    EXPECT_EQ(g_AudioEngine.bAgcOpen, 1);
    EXPECT_EQ(count_of(log_text(), "<6>ai [ZQ_MPI_AUDIO_Init]: \n\n"), 2u);
    EXPECT_EQ(journal_events("sched"),
              std::vector<std::string>{"audio_process policy 2 priority 99 (not applied)"});
    char name[16] = {};
    EXPECT_TRUE(eventually([&] {
        return pthread_getname_np(g_AudioEngine.thread, name, sizeof name) == 0 &&
               std::string(name) == "audio_process";
    }));
}

TEST_F(AudioEngine, WithNeitherDeviceEnabledTheThreadOnlySleepsInTenthsOfASecond) {
    freeze_clock(0);
    ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    // The stopped clock moves only with sleeps: every reading is a whole
    // number of 100 ms naps.
    for (int64_t now = 0; now < 2000000000; now = sim::board_monotonic_ns())
        ASSERT_EQ(now % 100000000, 0) << now;
    EXPECT_EQ(audio_ring_write_idx(g_AudioEngine.pstCapRing), 0u);
}

TEST_F(AudioEngine, PlaybackSendsRingBytesPaddedWithSilenceAndResetsTheEmptyRing) {
    start();
    std::vector<s16> first = pattern_frame(1), next = pattern_frame(2);
    ASSERT_EQ(audio_ring_write(g_AudioEngine.pstPlayRing, first.data(), 100), 100u);
    speaker_ = plug(g_AudioDevTable.aoFd, "/tmp/speaker", O_WRONLY);
    std::vector<s16> expected(kFrame, 0);
    std::copy(first.begin(), first.begin() + 50, expected.begin());
    EXPECT_EQ(played_frame(), expected);
    EXPECT_EQ(audio_ring_write_idx(g_AudioEngine.pstPlayRing) +
                  audio_ring_read_idx(g_AudioEngine.pstPlayRing),
              0u);
    // A frame written later comes out whole after some silence.
    ASSERT_EQ(audio_ring_write(g_AudioEngine.pstPlayRing, next.data(), 320), 320u);
    std::vector<s16> frame;
    for (int silent = 0; (frame = played_frame()) != next; ++silent) {
        ASSERT_LT(silent, 1000);
        ASSERT_EQ(frame, std::vector<s16>(kFrame, 0));
    }
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
    std::string fd = std::to_string(g_AudioDevTable.aiFd);
    // The speaker comes once a cycle has failed its read: a cycle that began
    // before the microphone was there may still play a frame.
    ASSERT_TRUE(eventually([&] {
        return count_of(log_text(), "<3>ai read 320 bytes,actual is 100 bytes,fd " + fd + "\n") ==
               1;
    }));
    speaker_ = plug(g_AudioDevTable.aoFd, "/tmp/speaker", O_WRONLY);
    ASSERT_TRUE(eventually([&] {
        return count_of(log_text(), "<3>ai read 320 bytes,actual is 0 bytes,fd " + fd + "\n") > 2;
    }));
    EXPECT_EQ(count_of(log_text(), "<3>ai read 320 bytes,actual is 100 bytes,fd " + fd + "\n"), 1u);
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

}  // namespace
