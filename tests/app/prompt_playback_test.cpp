// A whole prompt through the real engine thread and speaker, in real time:
// the speaker gets exactly the prompt's samples, in order, without a gap.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <vector>

#include "audio_devices.h"
#include "port/port.h"
#include "prompt_files.h"
#include "prompt_player.h"
#include "support/vboard_fixture.h"
#include "zq_adec.h"
#include "zq_g711.h"

namespace {

std::atomic<uint64_t> g_lastQueuedNs{0};
void on_piece(u8 *, s32) {
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
        .write(reinterpret_cast<const char *>(alaw.data()),
               static_cast<std::streamsize>(alaw.size()));

    ZQ_MPI_ADEC_SetCallback(on_piece);
    ASSERT_EQ(play_prompt("/mnt/factory/five.pcm"), 0);
    const uint64_t returnedNs = zq::port::monotonic_ns();
    // The call returns once the queued second has drained (board time).
    EXPECT_GE(returnedNs - g_lastQueuedNs.load(), 1'000'000'000u);
    EXPECT_LT(returnedNs - g_lastQueuedNs.load(), 2'000'000'000u);

    const std::vector<int16_t> heard = zq::sim::read_speaker(dir());
    const std::vector<int16_t> expected = zq::sim::speaker_samples(alaw);
    auto start = std::find_if(heard.begin(), heard.end(), [](int16_t v) { return v != 0; });
    ASSERT_GE(heard.end() - start, static_cast<long>(expected.size()));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), start));
    EXPECT_TRUE(std::all_of(start + static_cast<long>(expected.size()), heard.end(),
                            [](int16_t v) { return v == 0; }));
}

}  // namespace
