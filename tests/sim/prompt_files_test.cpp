// The prompts sound as meant: a chime that rises, a buzz that falls, both
// faded in and out and well inside full scale. (That a board's prompt files
// hold these bytes, the end-to-end runs show: the speaker plays them.)
#include "board/prompt_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using zq::sim::Prompt;

// Sign changes per second over [from, to) seconds: twice a plain tone's pitch.
double crossings_per_second(const std::vector<int16_t> &s, double from, double to) {
    int count = 0;
    for (size_t i = static_cast<size_t>(from * 8000) + 1; i < static_cast<size_t>(to * 8000); ++i)
        count += (s[i - 1] < 0) != (s[i] < 0);
    return count / (to - from);
}

int peak(const std::vector<int16_t> &s, size_t begin, size_t end) {
    int p = 0;
    for (size_t i = begin; i < end; ++i) p = std::max(p, std::abs(static_cast<int>(s[i])));
    return p;
}

TEST(PromptFiles, ChimeRisesAndBuzzFalls) {
    const auto chime = zq::sim::speaker_samples(zq::sim::prompt_bytes(Prompt::Success));
    const auto buzz = zq::sim::speaker_samples(zq::sim::prompt_bytes(Prompt::Failure));
    ASSERT_EQ(chime.size(), 8000u);
    EXPECT_NEAR(crossings_per_second(chime, 0.05, 0.35), 2 * 659.25, 40);
    EXPECT_NEAR(crossings_per_second(chime, 0.5, 0.8), 2 * 880.0, 40);
    EXPECT_GT(crossings_per_second(buzz, 0.05, 0.25), 2 * 190.0);
    EXPECT_LT(crossings_per_second(buzz, 0.75, 0.95), 2 * 130.0);
    for (const auto *s : {&chime, &buzz}) {
        EXPECT_LT(std::max(peak(*s, 0, 8), peak(*s, 7992, 8000)), 2000);  // faded in and out
        EXPECT_GT(peak(*s, 0, 8000), 8000);                               // clearly audible
        EXPECT_LT(peak(*s, 0, 8000), 30000);                              // never clipped
    }
}

}  // namespace
