// The prompt files of a new board: where they are, that they are what
// prompt_bytes says, and that they sound as meant: a chime that rises, a
// buzz that falls, both faded in and out and well inside full scale.
#include "prompt_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "board.h"
#include "support/vboard_fixture.h"

namespace {

using zq::sim::Prompt;

class PromptFilesTest : public VBoardTest {
  protected:
    std::vector<uint8_t> board_bytes(const std::string &boardPath) const {
        const std::string text = zq::sim::read_board_file(dir(), boardPath);
        return {text.begin(), text.end()};
    }
};

// Sign changes per second over [from, to) seconds: twice the pitch of a
// plain tone.
double crossings_per_second(const std::vector<int16_t> &s, double from, double to) {
    int count = 0;
    const size_t begin = static_cast<size_t>(from * 8000), end = static_cast<size_t>(to * 8000);
    for (size_t i = begin + 1; i < end; ++i) count += (s[i - 1] < 0) != (s[i] < 0);
    return count / (to - from);
}

int peak(const std::vector<int16_t> &s, size_t begin, size_t end) {
    int p = 0;
    for (size_t i = begin; i < end; ++i) p = std::max(p, std::abs(static_cast<int>(s[i])));
    return p;
}

TEST_F(PromptFilesTest, NewBoardKeepsBothPromptsInTheFactoryDirectory) {
    const auto success = board_bytes("/mnt/factory/shaoxiechenggong.pcm");
    const auto failure = board_bytes("/mnt/factory/shaoxieshibai.pcm");
    EXPECT_EQ(success.size(), 8000u);
    EXPECT_EQ(success, zq::sim::prompt_bytes(Prompt::Success));
    EXPECT_EQ(failure, zq::sim::prompt_bytes(Prompt::Failure));
    EXPECT_NE(success, failure);
}

TEST_F(PromptFilesTest, ChimeRisesAndBuzzFalls) {
    const auto chime = zq::sim::speaker_samples(zq::sim::prompt_bytes(Prompt::Success));
    const auto buzz = zq::sim::speaker_samples(zq::sim::prompt_bytes(Prompt::Failure));
    ASSERT_EQ(chime.size(), 8000u);
    EXPECT_NEAR(crossings_per_second(chime, 0.05, 0.35), 2 * 659.25, 40);
    EXPECT_NEAR(crossings_per_second(chime, 0.5, 0.8), 2 * 880.0, 40);
    EXPECT_GT(crossings_per_second(buzz, 0.05, 0.25), 2 * 190.0);
    EXPECT_LT(crossings_per_second(buzz, 0.75, 0.95), 2 * 130.0);
    for (const auto *s : {&chime, &buzz}) {
        EXPECT_LT(peak(*s, 0, 8), 2000);        // faded in
        EXPECT_LT(peak(*s, 7992, 8000), 2000);  // faded out
        EXPECT_GT(peak(*s, 0, 8000), 8000);     // clearly audible
        EXPECT_LT(peak(*s, 0, 8000), 30000);    // never clipped
    }
}

TEST_F(PromptFilesTest, RewrittenIntoAnyBoardDirectory) {
    ASSERT_TRUE(zq::sim::write_prompt_files(dir(), "/tmp/prompts"));
    EXPECT_EQ(board_bytes("/tmp/prompts/shaoxieshibai.pcm"),
              zq::sim::prompt_bytes(Prompt::Failure));
    EXPECT_EQ(board_bytes("/tmp/prompts/shaoxiechenggong.pcm").size(), 8000u);
}

}  // namespace
