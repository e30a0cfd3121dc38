// A virtual board for engine tests, with the audio drivers played by pipes:
// the test writes what the microphone hears into one and reads what the
// speaker got from another, so the engine is paced by the test itself.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/vboard_fixture.h"
#include "zq_common.h"

class EngineTest : public VBoardTest {
  protected:
    void SetUp() override;
    // Stops the engine after unblocking it (both pipes are closed on the
    // test's side), then closes its devices.
    void TearDown() override;

    // Makes boardPath a pipe and returns the test's end (read and write).
    int make_pipe(const std::string &boardPath);
    // The engine's input or output descriptor on boardPath, as an enabled
    // device would hold it.
    void attach_input(const std::string &boardPath);
    void attach_output(const std::string &boardPath);

    // The microphone hears these samples (whole frames).
    void hear(const std::vector<s16> &samples);
    // What the speaker played next: frames whole frames.
    std::vector<s16> played(size_t frames);

    std::string log_text() const;
    void trace_ai_calls();  // lets the log driver take info lines of "ai"

    int micEnd_ = -1;      // test's end of the input pipe
    int speakerEnd_ = -1;  // test's end of the output pipe
};

// Frame n of a counting pattern, distinct for every n.
std::vector<s16> pattern_frame(int n);
