// The voice prompt player: up to the playback ring (blocks and pieces, what it
// prints, its failure paths), and a whole prompt through the real engine
// thread to the speaker. The decoder callback sees every piece; with no
// engine thread it also empties the ring, so that blocking sends never wait.
#include "prompt_player.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "audio/engine_fixture.h"
#include "audio_devices.h"
#include "prompt_files.h"
#include "support/capture.h"
#include "zq_adec.h"
#include "zq_g711.h"

namespace {

std::vector<s32> g_pieces;  // decoded length of every piece sent

void on_piece(u8 *, s32 len) {
    g_pieces.push_back(len);
    AudioRing *ring = g_AudioEngine.pstPlayRing;
    if (g_AudioEngine.started.load() || !ring) return;
    std::vector<u8> drained(audio_ring_held(ring) + 1);
    audio_ring_read(ring, drained.data(), static_cast<u32>(drained.size()));
    audio_ring_reset_if_empty(ring);
}

class PromptPlayerTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        freeze_clock(100);
        ZQ_MPI_ADEC_SetCallback(on_piece);
    }
    std::string make_file(size_t bytes) {
        std::ofstream(host("/mnt/factory/test.pcm"), std::ios::binary) << std::string(bytes, 0x12);
        return "/mnt/factory/test.pcm";
    }
};

TEST_F(PromptPlayerTest, NullPathAndMissingFileTouchNothing) {
    Captured c = capture_output([] {
        EXPECT_EQ(play_prompt(nullptr), -1);
        EXPECT_EQ(play_prompt("/mnt/factory/nothing.pcm"), -1);
    });
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, "open: No such file or directory\n");
    EXPECT_EQ(g_AudioEngine.pstPlayRing, nullptr);  // the engine was never started
}

// File size and the decoded length of every piece.
using FileCase = std::pair<size_t, std::vector<s32>>;
class PromptFileTest : public PromptPlayerTest, public ::testing::WithParamInterface<FileCase> {};

// Each 160-byte block becomes one frame; the call returns quietly at least
// the 1-second drain wait later, with the output disabled.
TEST_P(PromptFileTest, GoesOutInBlocksOf160Bytes) {
    const std::string path = make_file(GetParam().first);
    const uint64_t start = zq::port::monotonic_ns();
    Captured c = capture_output([&] { EXPECT_EQ(play_prompt(path.c_str()), 0); });
    EXPECT_EQ(c.out + c.err, "");
    EXPECT_GE(zq::port::monotonic_ns() - start, 1'000'000'000u);
    EXPECT_EQ(g_AudioDevTable.aoFd.load(), -1);
    EXPECT_EQ(g_pieces, GetParam().second);
    EXPECT_EQ(g_AudioEngine.stAdecAttr.enType, ADEC_TYPE_G711A);
}
INSTANTIATE_TEST_SUITE_P(Sizes, PromptFileTest,
                         ::testing::Values(FileCase{170, {320, 20}},
                                           FileCase{16000, std::vector<s32>(100, 320)},
                                           FileCase{0, {}}));

TEST_F(PromptPlayerTest, OutputThatCannotBeEnabledRefusesEveryBlockUntilALaterPrompt) {
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/ao", true));
    const std::string path = make_file(170);
    Captured c = capture_output([&] { EXPECT_EQ(play_prompt(path.c_str()), 0); });
    const std::string refused =
        "AudioOutStart: ZQ_MPI_ADEC_SendStream(0) failed with 0xa0188005!\n";
    EXPECT_EQ(c.out, "AO_Enable  err:0xa0168010\n" + refused + refused);
    EXPECT_TRUE(g_pieces.empty());
    // Each later prompt opens the output again.
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/ao", false));
    for (int prompt = 1; prompt <= 2; ++prompt) {
        c = capture_output([&] { EXPECT_EQ(play_prompt(path.c_str()), 0); });
        EXPECT_EQ(c.out, "");
        EXPECT_EQ(g_pieces.size(), 2u * static_cast<size_t>(prompt));
    }
}

TEST_F(PromptPlayerTest, LargeBlocksGoInPiecesAndAFailedPieceDropsTheRest) {
    capture_output([] { EXPECT_EQ(prompt_audio_setup(), 0); });
    std::vector<u8> block(700, 0xD5);
    EXPECT_EQ(AudioOutStart(block.data(), 700), 0);
    EXPECT_EQ(g_pieces, (std::vector<s32>{640, 640, 120}));
    EXPECT_EQ(prompt_audio_stop(), 0);
    Captured c = capture_output([&] { EXPECT_EQ(AudioOutStart(block.data(), 700), 0); });
    EXPECT_EQ(c.out, "AudioOutStart: ZQ_MPI_ADEC_SendStream(0) failed with 0xa0188005!\n");
    EXPECT_EQ(g_pieces.size(), 3u);
}

// ---- a whole prompt in real time ----

std::atomic<uint64_t> g_lastQueuedNs{0};
void note_last_piece(u8 *, s32) {
    g_lastQueuedNs = zq::port::monotonic_ns();
}

class PromptPlaybackTest : public VBoardTest {};

TEST_F(PromptPlaybackTest, FiveSecondPromptReachesTheSpeakerWhole) {
    // Five seconds of a gliding tone, A-law coded, at clock speed 1.
    std::vector<s16> tone(5 * 8000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<s16>(9000 * std::sin(0.05 * static_cast<double>(i) *
                                                   (1.0 + static_cast<double>(i) / 80000.0)));
    std::vector<u8> alaw(tone.size());
    u32 coded = 0;
    g711a_encode(tone.data(), alaw.data(), static_cast<u32>(tone.size() * 2), &coded);
    ASSERT_EQ(coded, alaw.size());
    std::ofstream(host("/mnt/factory/five.pcm"), std::ios::binary)
        << std::string(alaw.begin(), alaw.end());

    ZQ_MPI_ADEC_SetCallback(note_last_piece);
    ASSERT_EQ(play_prompt("/mnt/factory/five.pcm"), 0);
    const uint64_t returnedNs = zq::port::monotonic_ns();
    // The call returns once the queued second has drained (board time).
    EXPECT_GE(returnedNs - g_lastQueuedNs.load(), 1'000'000'000u);
    EXPECT_LT(returnedNs - g_lastQueuedNs.load(), 2'000'000'000u);

    // After any leading silence: the prompt whole, then only silence.
    std::vector<int16_t> heard = zq::sim::read_speaker(dir());
    heard.erase(heard.begin(),
                std::find_if(heard.begin(), heard.end(), [](int16_t v) { return v; }));
    std::vector<int16_t> expected = zq::sim::speaker_samples(alaw);
    expected.resize(std::max(expected.size(), heard.size()), 0);
    EXPECT_TRUE(heard == expected);
}

}  // namespace
