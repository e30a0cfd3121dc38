// The output and input families: each call, the codec driver, frames, a
// disable during a read; and the refusals of the output, input and decoder
// families.
#include <algorithm>
#include <cstring>
#include <future>
#include <tuple>

#include "emul/audio.h"
#include "engine_fixture.h"
#include "support/capture.h"
#include "zq_adec.h"
#include "zq_ai.h"
#include "zq_ao.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kAoDev = s32(0xA0168001), kAoRange = s32(0xA0168003), kAoNull = s32(0xA0168006);
constexpr s32 kAoCodecFailed = s32(0xA0168007), kAoOpenFailed = s32(0xA0168010);
constexpr s32 kMuteQueryRefused = s32(0xA0168012);
constexpr s32 kAiDev = s32(0xA0158001), kAiRange = s32(0xA0158003), kAiNull = s32(0xA0158006);
constexpr s32 kAiCodecFailed = s32(0xA0158007), kNoFrame = s32(0xA015800E);
constexpr s32 kAdecChn = s32(0xA0188002), kAdecNotCreated = s32(0xA0188005),
              kAdecNull = s32(0xA0188006);

using AoTest = EngineTest;

TEST_F(AoTest, EveryCallDoesItsPart) {
    ASSERT_TRUE(sim::set_log_levels(dir(), {{"ao", 6}}));
    AudioAttr got;
    const AudioAttr attr{8000, 1, 3, 4, 5, 30, 160, 0xFFFFFFFF, 9};
    s32 volume = -7, muted = -1;
    EXPECT_EQ(ZQ_MPI_AO_SetPubAttr(0, &attr), 0);
    EXPECT_EQ(ZQ_MPI_AO_GetPubAttr(0, &got), 0);
    EXPECT_EQ(std::memcmp(&got, &attr, sizeof got), 0);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);  // already enabled: not opened again
    EXPECT_EQ(ZQ_MPI_AO_GetVolume(0, &volume), 0);
    EXPECT_EQ(volume, 50);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 80), 0);
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 7, nullptr), 0);  // any non-zero: on
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), 0);
    EXPECT_EQ(muted, 1);
    sim::CodecState codec = sim::read_codec(dir());
    EXPECT_EQ(std::make_pair(codec.outputVolume, codec.outputMute), std::make_pair(80, 1));
    codec.outputMute = 0;  // someone else unmuted the codec: only the codec knows
    ASSERT_TRUE(sim::write_codec(dir(), codec));
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), 0);
    EXPECT_EQ(muted, 0);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(audio_get_ao_fd(0), -1);
    EXPECT_EQ(journal_events("/dev/ao"), (std::vector<std::string>{"open", "close"}));
    EXPECT_EQ(count_of(log_text(), "<6>ao [ZQ_MPI_AO_GetVolume]: AudioDevId[0], *ps32VolumeDb[50]"),
              1u);
}

// A missing codec fails only the request at hand: with it back, the next
// request opens it again (and here finds each request refused).
TEST_F(AoTest, MissingOrRefusingDevicesChangeNothing) {
    for (const char *device : {"/dev/ao", "/dev/acodec"})
        ASSERT_TRUE(sim::set_device_missing(dir(), device, true));
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), kAoOpenFailed);
    EXPECT_EQ(audio_get_ao_fd(0), -1);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    s32 muted = 0x5A;
    Captured c = capture_output([&] { EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), -1); });
    EXPECT_EQ(c.out, "acodec dev open error!\n");
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), kAoCodecFailed);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", false));
    for (unsigned long request : {0x40044101ul, 0x40044103ul, 0x80044104ul})
        ASSERT_TRUE(sim::refuse_request(dir(), "/dev/acodec", request));
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 70), kAoCodecFailed);
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), kAoCodecFailed);
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), kMuteQueryRefused);
    s32 volume = -7;
    EXPECT_EQ(ZQ_MPI_AO_GetVolume(0, &volume), 0);
    EXPECT_EQ(std::make_pair(muted, volume), std::make_pair(0x5A, 50));
    EXPECT_EQ(sim::read_codec(dir()).outputMute, 0);
    std::vector<std::string> codec = journal_events("/dev/acodec");  // opened per request
    EXPECT_EQ(std::count(codec.begin(), codec.end(), "close"), 3);
}

class AiTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_TRUE(sim::set_log_levels(dir(), {{"ai", 6}}));
    }
    // The engine at clock speed 10, its microphone a pipe at "/dev/ai".
    void start_with_mic(int64_t realtimeNs = 0) {
        ASSERT_TRUE(sim::set_clock(dir(), {10.0, 5000000000, realtimeNs}));
        ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
        mic_ = make_pipe("/dev/ai");
    }
};

TEST_F(AiTest, EveryCallDoesItsPart) {
    AudioAttr attr{};
    const AudioAttr given{8000, 1, 2, 3, 4, 5, 800, 8, 9};  // all the capture ring holds
    EXPECT_EQ(ZQ_MPI_AI_SetPubAttr(0, &given), 0);
    EXPECT_EQ(ZQ_MPI_AI_GetPubAttr(0, &attr), 0);
    EXPECT_EQ(std::memcmp(&attr, &given, sizeof given), 0);
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), 0);
    const s32 fd = g_AudioDevTable.aiFd;
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), fd);  // already enabled: its descriptor
    EXPECT_EQ(get_frame(0), kNoFrame);
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(1, 0, &frame_, nullptr, 0), kAiDev);  // enabled is not enough
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, nullptr, nullptr, 1), kAiNull);
    frame_.pData = nullptr;
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame_, nullptr, 1), kAiNull);
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    s32 volume = -1;
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 70), 0);
    EXPECT_EQ(sim::read_codec(dir()).inputVolume, 70);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", true));
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 30), kAiCodecFailed);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", false));
    ASSERT_TRUE(sim::refuse_request(dir(), "/dev/acodec", 0x40044105));
    // The volume is kept only when the codec took it.
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 40), kAiCodecFailed);
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(0, &volume), 0);
    EXPECT_EQ(volume, 70);
    const VqeConfig aecAndAgc{1, 0, 1};
    VqeConfig back{9, 9, 9};
    EXPECT_EQ(ZQ_MPI_AI_SetVqeAttr(5, 5, 5, 5, &aecAndAgc), 0);
    EXPECT_EQ(ZQ_MPI_AI_GetVqeAttr(5, 5, &back), 0);
    EXPECT_EQ(std::memcmp(&back, &aecAndAgc, sizeof back), 0);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/ai", true));
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), -1);
    EXPECT_EQ(g_AudioDevTable.aiFd, -1);
    EXPECT_EQ(count_of(log_text(), "<6>ai [ZQ_MPI_AI_SetVolume]: AudioDevId[0], s32VolumeDb[40]"),
              1u);
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
    EXPECT_EQ(waiter.get(), kAiDev);
    EXPECT_NE(log_text().find("<3>ai AudioDevId 0 Failed\n\n"), std::string::npos);
    EXPECT_GE(::fcntl(fd, F_GETFD), 0);
    hear(pattern_frame(0).data(), ZQ_AUDIO_FRAME_SAMPLES);
    EXPECT_TRUE(eventually([&] { return ::fcntl(fd, F_GETFD) < 0; }));
}

// A device or channel that does not exist, a value out of range and a null
// pointer: refused with its code, changing nothing.
using AudioRefusalTest = EngineTest;

TEST_F(AudioRefusalTest, BadNumbersValuesAndNullPointersAreRefusedWithTheirCode) {
    AudioAttr attr{16000, 2, 0, 0, 0, 0, 160, 0, 0}, tooMany = attr;
    tooMany.u32SamplesPerFrame = 801;
    s32 value;
    const AdecChnAttr adec = {ADEC_TYPE_PCM, 4096, 1};
    const std::tuple<const char *, std::function<s32()>, s32> rows[] = {
        {CALL(ZQ_MPI_AO_SetPubAttr(1, &attr)), kAoDev},
        {CALL(ZQ_MPI_AO_SetPubAttr(0, nullptr)), kAoNull},
        {CALL(ZQ_MPI_AO_GetPubAttr(-1, &attr)), kAoDev},
        {CALL(ZQ_MPI_AO_GetPubAttr(0, nullptr)), kAoNull},
        {CALL(ZQ_MPI_AO_Enable(1)), kAoDev},
        {CALL(ZQ_MPI_AO_Disable(2)), kAoDev},
        {CALL(ZQ_MPI_AO_SetVolume(0, 101)), kAoRange},
        {CALL(ZQ_MPI_AO_SetVolume(3, 10)), kAoDev},
        {CALL(ZQ_MPI_AO_GetVolume(0, nullptr)), kAoNull},
        {CALL(ZQ_MPI_AO_SetMute(2, 1, nullptr)), kAoDev},
        {CALL(ZQ_MPI_AO_GetMute(1, &value)), kAoDev},
        {CALL(ZQ_MPI_AO_GetMute(0, nullptr)), kAoNull},
        {CALL(ZQ_MPI_AI_SetPubAttr(1, &attr)), kAiDev},
        {CALL(ZQ_MPI_AI_SetPubAttr(0, nullptr)), kAiNull},
        {CALL(ZQ_MPI_AI_GetPubAttr(-1, &attr)), kAiDev},
        // No frame over the capture ring's 800 samples could ever be handed out.
        {CALL(ZQ_MPI_AI_SetPubAttr(0, &tooMany)), kAiRange},
        {CALL(ZQ_MPI_AI_Enable(1)), kAiDev},
        {CALL(ZQ_MPI_AI_Disable(2)), kAiDev},
        // The input is not enabled (checked before the frame's buffer).
        {CALL(ZQ_MPI_AI_GetFrame(0, 0, &frame_, nullptr, 1)), kAiDev},
        {CALL(ZQ_MPI_AI_SetVolume(0, 101)), kAiRange},
        {CALL(ZQ_MPI_AI_SetVolume(1, 10)), kAiDev},
        {CALL(ZQ_MPI_AI_GetVolume(0, nullptr)), kAiNull},
        {CALL(ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, nullptr)), kAiNull},
        {CALL(ZQ_MPI_AI_GetVqeAttr(0, 0, nullptr)), kAiNull},
        {CALL(ZQ_MPI_ADEC_CreateChn(1, &adec)), kAdecChn},
        {CALL(ZQ_MPI_ADEC_CreateChn(0, nullptr)), kAdecNull},
        {CALL(ZQ_MPI_ADEC_SendStream(1, nullptr, 1)), kAdecChn},
        // The channel is tested before the pointer.
        {CALL(ZQ_MPI_ADEC_SendStream(0, nullptr, 1)), kAdecNotCreated},
    };
    for (const auto &[call, run, result] : rows) EXPECT_EQ(run(), result) << call;
    AudioAttr ao{}, ai{};  // nothing refused was kept or asked of the codec
    ASSERT_EQ(ZQ_MPI_AO_GetPubAttr(0, &ao) + ZQ_MPI_AI_GetPubAttr(0, &ai), 0);
    EXPECT_EQ(ao.enSamplerate + ai.enSamplerate, 0u);
    EXPECT_TRUE(journal_events("acodec").empty());
}

}  // namespace
