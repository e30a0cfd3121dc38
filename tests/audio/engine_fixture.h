// A virtual board for the audio tests. Pipes can play the engine's drivers:
// the test writes what the microphone hears and reads what the speaker got.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/engine.h"
#include "audio/engine_thread.h"
#include "emul/board.h"
#include "port/port.h"
#include "support/call_rows.h"
#include "support/vboard_fixture.h"

class EngineTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        signal(SIGPIPE, SIG_IGN);  // a closed speaker pipe fails the engine's write
    }
    // Closed pipes cannot block the engine; once it has ended, no driver call races the closes.
    void TearDown() override {
        for (int end : {mic_, speaker_}) ::close(end);
        audio_engine_stop();
        for (std::atomic<s32> *slot : {&g_AudioDevTable.aiFd, &g_AudioDevTable.aoFd})
            if (s32 fd = slot->exchange(-1); fd >= 0) zq::port::close(fd);
        VBoardTest::TearDown();
    }
    // Makes boardPath a pipe; returns the test's end (read and write).
    int make_pipe(const char *boardPath) {
        ::unlink(host(boardPath).c_str());
        EXPECT_EQ(::mkfifo(host(boardPath).c_str(), 0600), 0);
        return ::open(host(boardPath).c_str(), O_RDWR | O_CLOEXEC);
    }
    // Makes boardPath a pipe open as the engine's input or output; returns the test's end.
    int plug(std::atomic<s32> &slot, const char *boardPath, int flags) {
        int end = make_pipe(boardPath);
        slot = zq::port::open(boardPath, flags);
        EXPECT_GE(slot, 0);
        return end;
    }
    void hear(const s16 *samples, size_t count) {
        ASSERT_EQ(::write(mic_, samples, count * 2), static_cast<ssize_t>(count * 2));
    }
    std::vector<s16> played_frame() {
        std::vector<s16> frame(ZQ_AUDIO_FRAME_SAMPLES);
        EXPECT_EQ(::read(speaker_, frame.data(), 320), 320);  // pipe writes of 320 are whole
        return frame;
    }
    // A frame of input device 0 into samples_, described in frame_.
    s32 get_frame(s32 block) {
        frame_ = AudioFrame{};
        frame_.pData = samples_;
        return ZQ_MPI_AI_GetFrame(0, 0, &frame_, nullptr, block);
    }

    int mic_ = -1, speaker_ = -1;
    s16 samples_[ZQ_AUDIO_FRAME_SAMPLES] = {};
    AudioFrame frame_{};
};

// Frame n of a counting pattern, distinct for every n.
inline std::vector<s16> pattern_frame(int n) {
    std::vector<s16> frame(ZQ_AUDIO_FRAME_SAMPLES);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<s16>(n * 1000 + int(i));
    return frame;
}
