// The voice prompt player up to the playback ring: its blocks, what it prints
// when the output fails. (That a whole prompt reaches the speaker, the
// end-to-end runs show.) The decoder callback sees every piece; with no
// engine thread it also empties the ring, so that blocking sends never wait.
#include "prompt_player.h"

#include <fstream>

#include "audio/engine_fixture.h"
#include "support/capture.h"
#include "zq_adec.h"

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
    // Plays a prompt file of so many bytes, which succeeds; what it printed.
    std::string play(size_t bytes) {
        std::ofstream(host("/mnt/factory/test.pcm"), std::ios::binary) << std::string(bytes, 0x12);
        Captured c = capture_output([] { EXPECT_EQ(play_prompt("/mnt/factory/test.pcm"), 0); });
        return c.out + c.err;
    }
};

// Each 160-byte block becomes one frame, and the call returns quietly.
TEST_F(PromptPlayerTest, GoesOutInBlocksOf160Bytes) {
    EXPECT_EQ(play(170), "");
    EXPECT_EQ(g_pieces, (std::vector<s32>{320, 20}));
}

// Each later prompt opens the output again.
TEST_F(PromptPlayerTest, OutputThatCannotBeEnabledRefusesEveryBlockUntilALaterPrompt) {
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/ao", true));
    const std::string refused =
        "AudioOutStart: ZQ_MPI_ADEC_SendStream(0) failed with 0xa0188005!\n";
    EXPECT_EQ(play(170), "AO_Enable  err:0xa0168010\n" + refused + refused);
    EXPECT_TRUE(g_pieces.empty());
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/ao", false));
    for (size_t prompt = 1; prompt <= 2; ++prompt) {
        EXPECT_EQ(play(170), "");
        EXPECT_EQ(g_pieces.size(), 2 * prompt);
    }
}

}  // namespace
