// The input family: attributes, enable and disable, frames handed out,
// volume through the codec driver, enhancement switches; exact texts and
// codes of every refusal.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "audio/engine.h"
#include "board.h"
#include "devices.h"
#include "engine_fixture.h"
#include "port/port.h"
#include "zq_ai.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kBadDevice = static_cast<s32>(0xA0158001);
constexpr s32 kOutOfRange = static_cast<s32>(0xA0158003);
constexpr s32 kNullPointer = static_cast<s32>(0xA0158006);
constexpr s32 kCodecFailed = static_cast<s32>(0xA0158007);
constexpr s32 kNoFrame = static_cast<s32>(0xA015800E);
constexpr unsigned long kSetInputVolume = 0x40044105;

class AiTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        freeze_clock(5);
        trace_ai_calls();
    }
    // The log lines written since the last call, without their time.
    std::vector<std::string> new_lines() {
        std::string text = log_text();
        std::vector<std::string> lines;
        // Every line starts with "<seconds>.<ms> <"; a message may end in a
        // line end of its own.
        static const std::regex lineStart("(^|\n)[0-9]+\\.[0-9]+ <");
        std::vector<size_t> starts;
        for (std::sregex_iterator
                 it(text.begin() + static_cast<long>(seen_), text.end(), lineStart),
             end;
             it != end; ++it)
            starts.push_back(seen_ + static_cast<size_t>(it->position()) + it->str(1).size());
        starts.push_back(text.size());
        for (size_t k = 0; k + 1 < starts.size(); ++k) {
            std::string line = text.substr(starts[k], starts[k + 1] - starts[k]);
            lines.push_back(line.substr(line.find(' ') + 1));
        }
        seen_ = text.size();
        return lines;
    }
    // "/dev/ai" as a pipe the test feeds.
    void microphone_pipe() { micEnd_ = make_pipe("/dev/ai"); }
    void make_board_file(const std::string &boardPath) {
        if (::access(host(boardPath).c_str(), F_OK) != 0) std::ofstream(host(boardPath)) << "";
    }
    size_t seen_ = 0;
};

using Lines = std::vector<std::string>;

TEST_F(AiTest, AttributesAreKeptAsGivenAndSetTheFrameLength) {
    AudioAttr attr{};
    attr.u32SamplesPerFrame = 99;
    EXPECT_EQ(ZQ_MPI_AI_GetPubAttr(0, &attr), 0);
    EXPECT_EQ(attr.u32SamplesPerFrame, 0u);  // before ZQ_MPI_AUDIO_Init
    const AudioAttr given{8000, 1, 2, 3, 4, 5, 80, 8, 9};
    EXPECT_EQ(ZQ_MPI_AI_SetPubAttr(0, &given), 0);
    AudioAttr back{};
    EXPECT_EQ(ZQ_MPI_AI_GetPubAttr(0, &back), 0);
    EXPECT_EQ(std::memcmp(&back, &given, sizeof given), 0);
    EXPECT_EQ(new_lines(),
              (Lines{"<6>ai [ZQ_MPI_AI_GetPubAttr]: enSamplerate[0], enBitwidth[0]\n\n",
                     "<6>ai [ZQ_MPI_AI_SetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n",
                     "<6>ai [ZQ_MPI_AI_GetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n"}));
}

TEST_F(AiTest, AttributeRefusalsChangeNothing) {
    const AudioAttr good{8000, 1, 0, 0, 1, 30, 800, 2, 1};
    ASSERT_EQ(ZQ_MPI_AI_SetPubAttr(0, &good), 0);
    new_lines();
    AudioAttr bad = good;
    EXPECT_EQ(ZQ_MPI_AI_SetPubAttr(1, &good), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AI_GetPubAttr(-1, &bad), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AI_SetPubAttr(0, nullptr), kNullPointer);
    EXPECT_EQ(ZQ_MPI_AI_GetPubAttr(0, nullptr), kNullPointer);
    // A frame over the capture ring's 800 samples could never be handed out.
    for (u32 samples : {0u, 801u, 0x80000000u}) {
        bad.u32SamplesPerFrame = samples;
        EXPECT_EQ(ZQ_MPI_AI_SetPubAttr(0, &bad), kOutOfRange);
    }
    EXPECT_EQ(new_lines(), (Lines{"<3>ai AudioDevId 1 Failed\n", "<3>ai AudioDevId -1 Failed\n",
                                  "<3>ai pstAttr is null\n\n", "<3>ai pstAttr is null\n\n",
                                  "<3>ai u32SamplesPerFrame 0 not supported!\n\n",
                                  "<3>ai u32SamplesPerFrame 801 not supported!\n\n",
                                  "<3>ai u32SamplesPerFrame 2147483648 not supported!\n\n"}));
    EXPECT_EQ(g_AudioEngine.stAiAttr.u32SamplesPerFrame, 800u);
}

TEST_F(AiTest, EnableOpensTheDriverOnceAndDisableClosesIt) {
    make_board_file("/dev/ai");
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), 0);
    s32 fd = g_AudioDevTable.aiFd;
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), fd);
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    EXPECT_EQ(g_AudioDevTable.aiFd, -1);
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    EXPECT_EQ(new_lines(), (Lines{"<6>ai [ZQ_MPI_AI_Enable]: AudioDevId[0]\n\n",
                                  "<6>ai [ZQ_MPI_AI_Enable]: AudioDevId[0]\n\n",
                                  "<6>ai [ZQ_MPI_AI_Disable]: AudioDevId[0]\n\n",
                                  "<6>ai [ZQ_MPI_AI_Disable]: AudioDevId[0]\n\n"}));
    // Only device 0 has a slot.
    EXPECT_EQ(ZQ_MPI_AI_Enable(1), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AI_Disable(2), kBadDevice);
    EXPECT_EQ(new_lines(),
              (Lines{"<3>ai AudioDevId 1 Failed\n\n", "<3>ai AudioDevId 2 Failed\n\n"}));
    EXPECT_EQ(g_AudioDevTable.aiFd, -1);
    EXPECT_EQ(g_AudioDevTable.aoFd, -1);

    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/ai", true));
    EXPECT_EQ(ZQ_MPI_AI_Enable(0), -1);
    EXPECT_EQ(g_AudioDevTable.aiFd, -1);
    EXPECT_EQ(new_lines(), (Lines{"<6>ai [ZQ_MPI_AI_Enable]: AudioDevId[0]\n\n",
                                  "<3>ai open /dev/ai failed\n"}));
}

TEST_F(AiTest, FramesAreNumberedFromZeroAndStampedWithWallClockTime) {
    ASSERT_TRUE(sim::set_clock(dir(), {1.0, 5000000000, 1767323045123456789}));
    ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    microphone_pipe();
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    hear(pattern_frame(0));
    hear(pattern_frame(1));
    s16 buffer[160];
    for (u32 seq : {0u, 1u}) {
        AudioFrame frame{};
        frame.pData = buffer;
        struct timespec before {
        }, after{};
        zq::port::clock_gettime(CLOCK_REALTIME, &before);
        ASSERT_EQ(ZQ_MPI_AI_GetFrame(0, 7, &frame, nullptr, 1), 0);
        zq::port::clock_gettime(CLOCK_REALTIME, &after);
        EXPECT_EQ(frame.u32Seq, seq);
        EXPECT_EQ(frame.u32Len, 320u);
        EXPECT_EQ(std::vector<s16>(buffer, buffer + 160), pattern_frame(static_cast<int>(seq)));
        auto ms = [](const timespec &t) {
            return static_cast<u64>(t.tv_sec) * 1000 + static_cast<u64>(t.tv_nsec) / 1000000;
        };
        EXPECT_GE(frame.u64TimeStamp, ms(before));
        EXPECT_LE(frame.u64TimeStamp, ms(after));
        EXPECT_GT(frame.u64TimeStamp, 1767323045123u);
    }
}

TEST_F(AiTest, ShortFrameLengthHandsOutEachCapturedFrameInTwoHalves) {
    ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    const AudioAttr half{8000, 1, 0, 0, 1, 30, 80, 2, 1};
    ASSERT_EQ(ZQ_MPI_AI_SetPubAttr(0, &half), 0);
    microphone_pipe();
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    std::vector<s16> whole = pattern_frame(3);
    hear(whole);
    s16 buffer[160] = {};
    for (u32 part : {0u, 1u}) {
        AudioFrame frame{};
        frame.pData = buffer;
        ASSERT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 1), 0);
        EXPECT_EQ(frame.u32Len, 160u);
        EXPECT_EQ(frame.u32Seq, part);
        EXPECT_TRUE(std::equal(buffer, buffer + 80, whole.begin() + 80 * part));
    }
    AudioFrame frame{};
    frame.pData = buffer;
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 0), kNoFrame);
}

TEST_F(AiTest, GetFrameRefusalsAndAnEmptyRing) {
    ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    s16 buffer[160];
    AudioFrame frame{};
    frame.pData = buffer;
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 0), kBadDevice);  // input disabled
    microphone_pipe();
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    new_lines();
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 0), kNoFrame);
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(1, 0, &frame, nullptr, 0), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, nullptr, nullptr, 1), kNullPointer);
    frame.pData = nullptr;
    EXPECT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 1), kNullPointer);
    EXPECT_EQ(new_lines(), (Lines{"<3>ai AudioDevId 1 Failed\n\n", "<3>ai pstFrm is null\n\n",
                                  "<3>ai pstFrm->pData is null\n\n"}));
}

// Disabling waits up to a board second for the engine to leave its read;
// at speed 10 that is time enough on a loaded host.
TEST_F(AiTest, BlockingGetFrameReturnsOnceTheInputIsDisabled) {
    ASSERT_TRUE(sim::set_clock_speed(dir(), 10));
    ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    microphone_pipe();
    ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
    // The microphone goes quiet for good: the engine's reads now fail.
    ::close(micEnd_);
    micEnd_ = -1;
    std::atomic<s32> result{0};
    std::thread waiter([&] {
        s16 buffer[160];
        AudioFrame frame{};
        frame.pData = buffer;
        result = ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(result, 0);  // still waiting
    EXPECT_EQ(ZQ_MPI_AI_Disable(0), 0);
    waiter.join();
    EXPECT_EQ(result, kBadDevice);
    EXPECT_NE(log_text().find("<3>ai AudioDevId 0 Failed\n\n"), std::string::npos);
}

// A paced microphone keeps delivering while the input is switched on and
// off: each disable waits for the engine to leave its read, and frames keep
// their numbering.
TEST_F(AiTest, InputCanBeSwitchedOffAndOnWhileTheEngineReads) {
    ASSERT_TRUE(sim::set_clock_speed(dir(), 10));
    ASSERT_EQ(ZQ_MPI_AUDIO_Init(), 0);
    microphone_pipe();
    int feed = ::open(host("/dev/ai").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(feed, 0);
    std::atomic<bool> done{false};
    std::thread microphone([&] {
        std::vector<s16> frame = pattern_frame(1);
        while (!done) {
            (void)!::write(feed, frame.data(), 320);  // a full pipe drops the frame
            std::this_thread::sleep_for(std::chrono::microseconds(400));
        }
    });
    s16 buffer[160];
    for (u32 round = 0; round < 20; ++round) {
        ASSERT_EQ(ZQ_MPI_AI_Enable(0), 0);
        AudioFrame frame{};
        frame.pData = buffer;
        ASSERT_EQ(ZQ_MPI_AI_GetFrame(0, 0, &frame, nullptr, 1), 0);
        EXPECT_EQ(frame.u32Seq, round);
        ASSERT_EQ(ZQ_MPI_AI_Disable(0), 0);
    }
    done = true;
    microphone.join();
    ::close(feed);
}

TEST_F(AiTest, VolumeIsCheckedAndKeptOnlyWhenTheCodecTakesIt) {
    s32 volume = -1;
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(0, &volume), 0);
    EXPECT_EQ(volume, 50);
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 101), kOutOfRange);
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, -1), kOutOfRange);
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(1, 10), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(1, &volume), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(0, nullptr), kNullPointer);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", true));
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 30), kCodecFailed);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", false));
    make_board_file("/dev/acodec");
    ASSERT_TRUE(sim::refuse_request(dir(), "/dev/acodec", kSetInputVolume));
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 40), kCodecFailed);  // no line of its own
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(0, &volume), 0);
    EXPECT_EQ(volume, 50);
    EXPECT_EQ(new_lines(),
              (Lines{"<6>ai [ZQ_MPI_AI_GetVolume]: AudioDevId[0], *ps32VolumeDb[50]\n\n",
                     "<3>ai VolumeDb 101 not supported!\n\n",
                     "<3>ai VolumeDb -1 not supported!\n\n", "<3>ai AudioDevId 1 Failed\n\n",
                     "<3>ai AudioDevId 1 Failed\n\n", "<3>ai ps32VolumeDb is null\n\n",
                     "<6>ai [ZQ_MPI_AI_SetVolume]: AudioDevId[0], s32VolumeDb[30]\n\n",
                     "<3>ai acodec dev open error!\n\n",
                     "<6>ai [ZQ_MPI_AI_SetVolume]: AudioDevId[0], s32VolumeDb[40]\n\n",
                     "<6>ai [ZQ_MPI_AI_GetVolume]: AudioDevId[0], *ps32VolumeDb[50]\n\n"}));
}

TEST_F(AiTest, AcceptedVolumeReachesTheCodecAndIsReported) {
    if (!sim::find_device("/dev/acodec")) GTEST_SKIP() << "no codec emulator on this board";
    EXPECT_EQ(ZQ_MPI_AI_SetVolume(0, 100), 0);
    s32 volume = 0;
    EXPECT_EQ(ZQ_MPI_AI_GetVolume(0, &volume), 0);
    EXPECT_EQ(volume, 100);
    std::vector<std::string> journal = sim::journal_lines(dir());
    EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](const std::string &line) {
        return line.find("/dev/acodec ioctl 0x40044105 ok") != std::string::npos;
    }));
}

TEST_F(AiTest, EnhancementSwitchesAreStoredAndReportedInTheirLogOrder) {
    const VqeConfig aecAndAgc{1, 0, 1};
    EXPECT_EQ(ZQ_MPI_AI_SetVqeAttr(5, 5, 5, 5, &aecAndAgc), 0);
    EXPECT_NE(g_AudioEngine.bAecOpen, 0);
    EXPECT_EQ(g_AudioEngine.bAnrOpen, 0);
    EXPECT_NE(g_AudioEngine.bAgcOpen, 0);
    VqeConfig back{9, 9, 9};
    EXPECT_EQ(ZQ_MPI_AI_GetVqeAttr(5, 5, &back), 0);
    EXPECT_EQ(back.bAecOpen, 1);
    EXPECT_EQ(back.bAnrOpen, 0);
    EXPECT_EQ(back.bAgcOpen, 1);
    EXPECT_EQ(ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, nullptr), kNullPointer);
    EXPECT_EQ(ZQ_MPI_AI_GetVqeAttr(0, 0, nullptr), kNullPointer);
    EXPECT_EQ(new_lines(),
              (Lines{"<6>ai [ZQ_MPI_AI_SetVqeAttr]: bAecOpen[1], bAgcOpen[1], bAnrOpen[0]\n\n",
                     "<6>ai [ZQ_MPI_AI_GetVqeAttr]: bAecOpen[1], bAgcOpen[1], bAnrOpen[0]\n\n",
                     "<3>ai pstVqeConfig is null\n\n", "<3>ai pstVqeConfig is null\n\n"}));
}

}  // namespace
