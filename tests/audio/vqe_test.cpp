// The enhancement chain on synthetic signals: each stage does its job, no
// library call fails, and with every stage off a frame passes untouched.
#include "audio/vqe.h"

#include <gtest/gtest.h>

#include "signals.h"

namespace {

constexpr size_t kSamples = 5 * 8000, kLastSecond = kSamples - 8000;

struct StageCase {
    const char *name;
    VqeSwitches on;
    std::vector<s16> nearEnd, farEnd;
    double minChangeDb;  // the last second's level, after minus before
};

TEST(VqeChain, EachStageDoesItsJobAndEveryLibraryCallSucceeds) {
    std::vector<s16> voice = signals::noise(kSamples, 3000, 2), silence(kSamples, 0);
    std::vector<s16> hiss = signals::noise(kSamples, 1000, 3, 0);  // stationary white noise
    const StageCase cases[] = {
        // The speaker plays a voice, the microphone hears it 30 ms later at -6 dB.
        {"echo cancellation", {true, false, false}, signals::echo_of(voice, 240, 0.5), voice, -10},
        {"noise suppression", {false, true, false}, hiss, silence, -10},
        {"gain control", {false, false, true}, signals::quiet_voice(kSamples, 300), silence, 10},
        {"all off", {false, false, false}, voice, voice, 0},
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
        if (c.minChangeDb == 0) {
            EXPECT_EQ(out, c.nearEnd) << c.name;
        } else {  // at least |minChangeDb| in its direction
            EXPECT_GT(c.minChangeDb < 0 ? -change : change, std::fabs(c.minChangeDb)) << c.name;
        }
    }
}

}  // namespace
