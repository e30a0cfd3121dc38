// The engine thread: start-up, the idle cycle, playback from the ring,
// capture into the ring (callback, full ring, failed reads), and the
// enhancement chain on frames that pass through the thread.
#include "audio/engine.h"

#include <dirent.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine_thread.h"
#include "board.h"
#include "engine_fixture.h"
#include "signals.h"
#include "zq_ai.h"

namespace sim = zq::sim;

namespace {

constexpr size_t kFrame = ZQ_AUDIO_FRAME_SAMPLES;

size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

int threads_named(const std::string &name) {
    int n = 0;
    DIR *tasks = opendir("/proc/self/task");
    while (dirent *task = readdir(tasks)) {
        std::ifstream comm(std::string("/proc/self/task/") + task->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name) ++n;
    }
    closedir(tasks);
    return n;
}

// Host-side waiting for something the engine thread does.
template <typename Done>
bool eventually(Done done) {
    for (int i = 0; i < 20000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return done();
}

// Every raw frame the capture callback saw.
struct CallbackLog {
    std::mutex lock;
    std::vector<std::vector<s16>> frames;
    std::vector<s32> lengths;
};
CallbackLog g_callbackLog;

void record_frame(u8 *data, s32 length) {
    std::lock_guard<std::mutex> hold(g_callbackLog.lock);
    const s16 *samples = reinterpret_cast<const s16 *>(data);
    g_callbackLog.frames.emplace_back(samples, samples + kFrame);
    g_callbackLog.lengths.push_back(length);
}

size_t frames_called_back() {
    std::lock_guard<std::mutex> hold(g_callbackLog.lock);
    return g_callbackLog.frames.size();
}

std::vector<s16> frame_data(const AudioFrame &frame) {
    const s16 *samples = static_cast<const s16 *>(frame.pData);
    return {samples, samples + frame.u32Len / 2};
}

class AudioEngine : public EngineTest {
  protected:
    void start_fast() {
        ASSERT_TRUE(sim::set_clock_speed(dir(), 50));
        ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    }
    // Blocking capture of one frame into buffer_.
    AudioFrame next_frame() {
        AudioFrame frame{};
        frame.pData = buffer_;
        EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 1), 0);
        return frame;
    }
    s16 buffer_[800] = {};
};

TEST_F(AudioEngine, InitStartsOneRealTimeThreadWithRingsAndInputDefaults) {
    trace_ai_calls();
    g_AudioEngine.bAecOpen = g_AudioEngine.bAnrOpen = g_AudioEngine.bAgcOpen = 1;
    EXPECT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    EXPECT_EQ(g_AudioEngine.bAecOpen + g_AudioEngine.bAnrOpen + g_AudioEngine.bAgcOpen, 0);
    EXPECT_EQ(g_AudioEngine.stAiAttr.u32SamplesPerFrame, 160u);
    ASSERT_NE(g_AudioEngine.pstCapRing, nullptr);
    ASSERT_NE(g_AudioEngine.pstPlayRing, nullptr);
    EXPECT_EQ(g_AudioEngine.pstCapRing->u32Size, 1600u);
    EXPECT_EQ(g_AudioEngine.pstPlayRing->u32Size, 8000u);
    EXPECT_TRUE(eventually([] { return threads_named("audio_process") == 1; }));

    // A second call is traced, starts nothing and changes nothing.
    VqeConfig on{1, 1, 1};
    ASSERT_EQ(ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, &on), 0);
    AudioRing *capRing = g_AudioEngine.pstCapRing;
    EXPECT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    EXPECT_EQ(g_AudioEngine.bAecOpen + g_AudioEngine.bAnrOpen + g_AudioEngine.bAgcOpen, 3);
    EXPECT_EQ(g_AudioEngine.pstCapRing, capRing);
    EXPECT_EQ(threads_named("audio_process"), 1);
    EXPECT_EQ(count_of(log_text(), "<6>ai [ZQ_MPI_AUDIO_Init]: \n\n"), 2u);
    std::vector<std::string> journal = sim::journal_lines(dir());
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string &line) {
                                return line.find(
                                           " sched audio_process policy 2 priority 99 (not "
                                           "applied)") != std::string::npos;
                            }),
              1);
}

TEST_F(AudioEngine, WithNeitherDeviceEnabledTheThreadOnlySleepsInTenthsOfASecond) {
    freeze_clock(0);
    ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    // The stopped clock moves only with sleeps: every reading is a whole
    // number of 100 ms naps.
    int64_t now = 0;
    while ((now = sim::board_monotonic_ns()) < 2000000000) ASSERT_EQ(now % 100000000, 0) << now;
    EXPECT_EQ(audio_ring_write_idx(g_AudioEngine.pstCapRing), 0u);
    EXPECT_EQ(audio_ring_read_idx(g_AudioEngine.pstPlayRing), 0u);
}

TEST_F(AudioEngine, PlaybackSendsRingBytesPaddedWithSilenceAndResetsTheEmptyRing) {
    start_fast();
    std::vector<s16> start = pattern_frame(1);
    ASSERT_EQ(audio_ring_write(g_AudioEngine.pstPlayRing, start.data(), 100), 100u);
    speakerEnd_ = make_pipe("/tmp/speaker");
    attach_output("/tmp/speaker");
    std::vector<s16> first = played(1);
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + 50, start.begin()));
    EXPECT_TRUE(std::all_of(first.begin() + 50, first.end(), [](s16 s) { return s == 0; }));
    EXPECT_EQ(audio_ring_write_idx(g_AudioEngine.pstPlayRing), 0u);
    EXPECT_EQ(audio_ring_read_idx(g_AudioEngine.pstPlayRing), 0u);

    // Frames written later come out whole and in order after some silence.
    std::vector<s16> three;
    for (int n : {2, 3, 4}) {
        std::vector<s16> f = pattern_frame(n);
        three.insert(three.end(), f.begin(), f.end());
    }
    ASSERT_EQ(audio_ring_write(g_AudioEngine.pstPlayRing, three.data(), 960), 960u);
    std::vector<s16> frame;
    for (int silent = 0; (frame = played(1)) == std::vector<s16>(kFrame, 0); ++silent)
        ASSERT_LT(silent, 1000);
    std::vector<s16> rest = played(2);
    frame.insert(frame.end(), rest.begin(), rest.end());
    EXPECT_EQ(frame, three);
}

TEST_F(AudioEngine, CapturedFramesReachTheCallbackRawAndTheRingInOrder) {
    start_fast();
    ASSERT_EQ(ZQ_MPI_AI_SetCallback(record_frame), 0);
    micEnd_ = make_pipe("/tmp/mic");
    attach_input("/tmp/mic");
    for (int n = 0; n < 10; ++n) {
        hear(pattern_frame(n));
        AudioFrame frame = next_frame();
        EXPECT_EQ(frame.u32Seq, static_cast<u32>(n));
        EXPECT_EQ(frame.u32Len, 320u);
        EXPECT_EQ(frame_data(frame), pattern_frame(n));  // all stages off: untouched
    }
    std::lock_guard<std::mutex> hold(g_callbackLog.lock);
    ASSERT_EQ(g_callbackLog.frames.size(), 10u);
    for (int n = 0; n < 10; ++n) {
        EXPECT_EQ(g_callbackLog.frames[static_cast<size_t>(n)], pattern_frame(n));
        EXPECT_EQ(g_callbackLog.lengths[static_cast<size_t>(n)], 320);
    }
}

TEST_F(AudioEngine, FullCaptureRingKeepsItsOldestFramesAndDropsNewOnes) {
    start_fast();
    ASSERT_EQ(ZQ_MPI_AI_SetCallback(record_frame), 0);
    micEnd_ = make_pipe("/tmp/mic");
    attach_input("/tmp/mic");
    for (int n = 0; n < 8; ++n) hear(pattern_frame(n));
    ASSERT_TRUE(eventually([] { return frames_called_back() == 8; }));
    for (int n = 0; n < 5; ++n) EXPECT_EQ(frame_data(next_frame()), pattern_frame(n));
    AudioFrame frame{};
    frame.pData = buffer_;
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 0), static_cast<s32>(0xA015800E));
    hear(pattern_frame(8));
    frame = next_frame();
    EXPECT_EQ(frame_data(frame), pattern_frame(8));
    EXPECT_EQ(frame.u32Seq, 5u);
}

TEST_F(AudioEngine, FailedReadIsLoggedAndRetriedAndNothingElseHappensInItsCycle) {
    start_fast();
    ASSERT_EQ(ZQ_MPI_AI_SetCallback(record_frame), 0);
    {
        std::ofstream shortInput(host("/tmp/short_mic"), std::ios::binary);
        shortInput << std::string(100, 'x');
    }
    attach_input("/tmp/short_mic");
    speakerEnd_ = make_pipe("/tmp/speaker");
    attach_output("/tmp/speaker");
    s32 fd = g_AudioDevTable.aiFd;
    std::string partial =
        "<3>ai read 320 bytes,actual is 100 bytes,fd " + std::to_string(fd) + "\n";
    std::string empty = "<3>ai read 320 bytes,actual is 0 bytes,fd " + std::to_string(fd) + "\n";
    ASSERT_TRUE(eventually([&] { return count_of(log_text(), empty) >= 3; }));
    EXPECT_EQ(count_of(log_text(), partial), 1u);
    EXPECT_EQ(g_AudioDevTable.aiFd, fd);
    int waiting = -1;
    ASSERT_EQ(::ioctl(speakerEnd_, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 0);  // no playback
    EXPECT_EQ(frames_called_back(), 0u);
    EXPECT_EQ(audio_ring_held(g_AudioEngine.pstCapRing), 0u);
}

// What comes out of the thread with every stage on, while the speaker
// plays a voice and the microphone hears only its echo: each played frame is
// the echo reference of the frame captured in the same cycle.
TEST_F(AudioEngine, WithAllStagesOnEchoIsReducedAndNoFrameIsLost) {
    start_fast();
    VqeConfig allOn{1, 1, 1};
    ASSERT_EQ(ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, &allOn), 0);
    micEnd_ = make_pipe("/tmp/mic");
    speakerEnd_ = make_pipe("/tmp/speaker");
    attach_input("/tmp/mic");
    attach_output("/tmp/speaker");
    constexpr size_t kFrames = 250;
    std::vector<s16> voice = signals::speech_like(kFrames * kFrame, 3000, 7);
    std::vector<s16> heard = signals::echo_of(voice, 240, 0.5);
    std::vector<s16> captured;
    for (size_t n = 0; n < kFrames; ++n) {
        ASSERT_EQ(audio_ring_write(g_AudioEngine.pstPlayRing, &voice[n * kFrame], 320), 320u);
        hear({heard.begin() + static_cast<long>(n * kFrame),
              heard.begin() + static_cast<long>((n + 1) * kFrame)});
        AudioFrame frame = next_frame();
        ASSERT_EQ(frame.u32Seq, n);
        std::vector<s16> out = frame_data(frame);
        captured.insert(captured.end(), out.begin(), out.end());
        ASSERT_EQ(played(1), std::vector<s16>(voice.begin() + static_cast<long>(n * kFrame),
                                              voice.begin() + static_cast<long>((n + 1) * kFrame)));
    }
    size_t lastSecond = captured.size() - 8000;
    EXPECT_LT(signals::level_db(captured, lastSecond), signals::level_db(heard, lastSecond) - 10);
}

}  // namespace
