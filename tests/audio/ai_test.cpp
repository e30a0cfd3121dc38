// The input family: attributes, enable and disable, frames handed out, volume
// through the codec, enhancement switches, and readers and disables on
// several threads.
#include <algorithm>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "emul/audio.h"
#include "engine_fixture.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kBadDevice = s32(0xA0158001), kNullPointer = s32(0xA0158006);
constexpr s32 kCodecFailed = s32(0xA0158007), kNoFrame = s32(0xA015800E);

class AiTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        freeze_clock(5);  // without the engine's sleeps every line is stamped 5.0
        ASSERT_TRUE(sim::set_log_levels(dir(), {{"ai", 6}}));
    }
    // The engine at clock speed 10, its microphone a pipe at "/dev/ai".
    void start_with_mic(int64_t realtimeNs = 0) {
        ASSERT_TRUE(sim::set_clock(dir(), {10.0, 5000000000, realtimeNs}));
        ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
        mic_ = make_pipe("/dev/ai");
    }
};

TEST_F(AiTest, EveryCallDoesItsPartAndIsTracedWithItsArguments) {
    AudioAttr attr{};
    const AudioAttr given{8000, 1, 2, 3, 4, 5, 800, 8, 9};  // all the capture ring holds
    EXPECT_EQ(ZQ_MPI_AI_SetPubAttr(0, &given), 0);
    EXPECT_EQ(ZQ_MPI_AI_GetPubAttr(0, &attr), 0);
    EXPECT_EQ(std::memcmp(&attr, &given, sizeof given), 0);
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), 0);
    const s32 fd = g_AudioDevTable.aiFd;
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), fd);  // already enabled: its descriptor
    EXPECT_EQ(get_frame(0), kNoFrame);
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(1, 0, &frame_, nullptr, 0), kBadDevice);  // enabled is not enough
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, nullptr, nullptr, 1), kNullPointer);
    frame_.pData = nullptr;
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame_, nullptr, 1), kNullPointer);
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    s32 volume = -1;
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(0, &volume), 0);
    EXPECT_EQ(volume, 50);
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 70), 0);
    EXPECT_EQ(sim::read_codec(dir()).inputVolume, 70);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", true));
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 30), kCodecFailed);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", false));
    ASSERT_TRUE(sim::refuse_request(dir(), "/dev/acodec", 0x40044105));
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 40), kCodecFailed);  // no line of its own
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(0, &volume), 0);
    EXPECT_EQ(volume, 70);  // kept only when the codec took it
    const VqeConfig aecAndAgc{1, 0, 1};
    VqeConfig back{9, 9, 9};
    EXPECT_EQ(ZQ_MPI_AI_SetVqeAttr(5, 5, 5, 5, &aecAndAgc), 0);
    EXPECT_EQ(ZQ_MPI_AI_GetVqeAttr(5, 5, &back), 0);
    EXPECT_EQ(std::memcmp(&back, &aecAndAgc, sizeof back), 0);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/ai", true));
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), -1);
    EXPECT_EQ(g_AudioDevTable.aiFd, -1);
    const std::string enable = "5.0 <6>ai [ZQ_MPI_AI_Enable]: AudioDevId[0]\n\n";
    const std::string disable = "5.0 <6>ai [ZQ_MPI_AI_Disable]: AudioDevId[0]\n\n";
    EXPECT_EQ(log_text(),
              "5.0 <6>ai [ZQ_MPI_AI_SetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n"
              "5.0 <6>ai [ZQ_MPI_AI_GetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n" +
                  enable + enable +
                  "5.0 <3>ai AudioDevId 1 Failed\n\n5.0 <3>ai pstFrm is null\n\n"
                  "5.0 <3>ai pstFrm->pData is null\n\n" +
                  disable + disable +
                  "5.0 <6>ai [ZQ_MPI_AI_GetVolume]: AudioDevId[0], *ps32VolumeDb[50]\n\n"
                  "5.0 <6>ai [ZQ_MPI_AI_SetVolume]: AudioDevId[0], s32VolumeDb[70]\n\n"
                  "5.0 <6>ai [ZQ_MPI_AI_SetVolume]: AudioDevId[0], s32VolumeDb[30]\n\n"
                  "5.0 <3>ai acodec dev open error!\n\n"
                  "5.0 <6>ai [ZQ_MPI_AI_SetVolume]: AudioDevId[0], s32VolumeDb[40]\n\n"
                  "5.0 <6>ai [ZQ_MPI_AI_GetVolume]: AudioDevId[0], *ps32VolumeDb[70]\n\n"
                  "5.0 <6>ai [ZQ_MPI_AI_SetVqeAttr]: bAecOpen[1], bAgcOpen[1], bAnrOpen[0]\n\n"
                  "5.0 <6>ai [ZQ_MPI_AI_GetVqeAttr]: bAecOpen[1], bAgcOpen[1], bAnrOpen[0]\n\n" +
                  enable + "5.0 <3>ai open /dev/ai failed\n");
}

TEST_F(AiTest, FramesAreNumberedFromZeroStampedAndCutToTheFrameLength) {
    start_with_mic(1767323045123456789);
    const AudioAttr half{8000, 1, 0, 0, 1, 30, 80, 2, 1};
    ASSERT_EQ(ZQ_MPI_AI_SetPubAttr(0, &half), 0);
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    std::vector<s16> whole = pattern_frame(3);
    hear(whole.data(), whole.size());
    auto ms = [](const timespec &t) { return u64(t.tv_sec) * 1000 + u64(t.tv_nsec) / 1000000; };
    for (u32 part : {0u, 1u}) {
        timespec before{}, after{};
        zq::port::clock_gettime(CLOCK_REALTIME, &before);
        ASSERT_EQ(get_frame(1), 0);
        zq::port::clock_gettime(CLOCK_REALTIME, &after);
        EXPECT_EQ(frame_.u32Seq, part);
        EXPECT_EQ(frame_.u32Len, 160u);
        EXPECT_TRUE(std::equal(samples_, samples_ + 80, whole.begin() + 80 * part));
        EXPECT_GE(frame_.u64TimeStamp, std::max(ms(before), u64{1767323045123}));
        EXPECT_LE(frame_.u64TimeStamp, ms(after));
    }
    EXPECT_EQ(get_frame(0), kNoFrame);
}

// Two readers share the frames: each frame goes to one of them, numbered in order.
TEST_F(AiTest, ReadersOnTwoThreadsTakeTurns) {
    start_with_mic();
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    for (int n = 0; n < 4; ++n) hear(pattern_frame(n).data(), ZQ_AUDIO_FRAME_SAMPLES);
    std::mutex lock;
    std::vector<std::pair<u32, s16>> got;  // sequence number, first sample
    auto reader = [&] {
        for (int i = 0; i < 2; ++i) {
            s16 samples[ZQ_AUDIO_FRAME_SAMPLES];
            AudioFrame frame{};
            frame.pData = samples;
            ASSERT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 1), 0);
            std::lock_guard<std::mutex> hold(lock);
            got.emplace_back(frame.u32Seq, samples[0]);
        }
    };
    std::thread a(reader), b(reader);
    a.join();
    b.join();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::pair<u32, s16>>{{0, 0}, {1, 1000}, {2, 2000}, {3, 3000}}));
}

// A driver stuck in a read past the second that Disable waits: the engine
// thread closes the descriptor once the read returns, so its number cannot
// be reused under the read. A reader waiting for a frame returns.
TEST_F(AiTest, DisableDuringAStuckReadLeavesTheCloseToTheEngine) {
    start_with_mic();
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    const s32 fd = g_AudioDevTable.aiFd;
    ASSERT_TRUE(eventually([&] { return g_AudioEngine.busyFd.load() == fd; }));
    auto waiter = std::async(std::launch::async, [this] { return get_frame(1); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    EXPECT_EQ(waiter.get(), kBadDevice);
    EXPECT_NE(log_text().find("<3>ai AudioDevId 0 Failed\n\n"), std::string::npos);
    EXPECT_GE(::fcntl(fd, F_GETFD), 0);
    hear(pattern_frame(0).data(), ZQ_AUDIO_FRAME_SAMPLES);
    EXPECT_TRUE(eventually([&] { return ::fcntl(fd, F_GETFD) < 0; }));
}

}  // namespace
