// The enhancement chain on synthetic signals: each stage does its job, a
// switched-off stage leaves the frame alone, and no library call fails.
#include "audio/vqe.h"

#include <gtest/gtest.h>

#include <vector>

#include "signals.h"

namespace {

constexpr size_t kFrame = kVqeFrameSamples;
constexpr size_t kSeconds = 5;
constexpr size_t kSamples = kSeconds * 8000;
constexpr size_t kLastSecond = kSamples - 8000;

struct Chain {
    VqeChain chain;
    int createFailures;
    Chain() : createFailures(vqe_chain_create(chain)) {}
    ~Chain() { vqe_chain_free(chain); }

    // Runs the whole signal frame by frame; counts failed library calls.
    std::vector<int16_t> run(VqeSwitches on, const std::vector<int16_t> &nearEnd,
                             const std::vector<int16_t> &farEnd, int *failures) {
        std::vector<int16_t> out(nearEnd.size());
        for (size_t at = 0; at + kFrame <= nearEnd.size(); at += kFrame)
            *failures += vqe_process(chain, on, &nearEnd[at], &farEnd[at], &out[at]);
        return out;
    }
};

TEST(VqeChain, EveryLibraryCallSucceedsAndSwitchedOffStagesPassFramesThrough) {
    Chain c;
    ASSERT_EQ(c.createFailures, 0);
    ASSERT_NE(c.chain.aecm, nullptr);
    ASSERT_NE(c.chain.ns, nullptr);
    ASSERT_NE(c.chain.agc, nullptr);
    std::vector<int16_t> voice = signals::speech_like(kSamples, 3000, 1);
    std::vector<int16_t> silence(kSamples, 0);
    int failures = 0;
    EXPECT_EQ(c.run({false, false, false}, voice, silence, &failures), voice);
    c.run({true, true, true}, voice, voice, &failures);
    EXPECT_EQ(failures, 0);
}

TEST(VqeChain, EchoCancellationRemovesMostOfTheEcho) {
    Chain c;
    std::vector<int16_t> played = signals::speech_like(kSamples, 3000, 2);
    std::vector<int16_t> heard = signals::echo_of(played, 240, 0.5);  // 30 ms later, -6 dB
    int failures = 0;
    std::vector<int16_t> out = c.run({true, false, false}, heard, played, &failures);
    EXPECT_EQ(failures, 0);
    EXPECT_LT(signals::level_db(out, kLastSecond), signals::level_db(heard, kLastSecond) - 10);
}

TEST(VqeChain, NoiseSuppressionLowersStationaryNoise) {
    Chain c;
    std::vector<int16_t> noise = signals::white_noise(kSamples, 1000, 3);
    std::vector<int16_t> silence(kSamples, 0);
    int failures = 0;
    std::vector<int16_t> out = c.run({false, true, false}, noise, silence, &failures);
    EXPECT_EQ(failures, 0);
    EXPECT_LT(signals::level_db(out, kLastSecond), signals::level_db(noise, kLastSecond) - 10);
}

TEST(VqeChain, GainControlMakesAQuietVoiceLouder) {
    Chain c;
    std::vector<int16_t> voice = signals::quiet_voice(kSamples, 300);  // about -43 dBFS
    std::vector<int16_t> silence(kSamples, 0);
    int failures = 0;
    std::vector<int16_t> out = c.run({false, false, true}, voice, silence, &failures);
    EXPECT_EQ(failures, 0);
    EXPECT_GT(signals::level_db(out, kLastSecond), signals::level_db(voice, kLastSecond) + 10);
}

}  // namespace
