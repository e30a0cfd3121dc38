#include "engine_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/engine.h"
#include "audio/engine_thread.h"
#include "board.h"
#include "port/port.h"

namespace port = zq::port;

void EngineTest::SetUp() {
    VBoardTest::SetUp();
    // A closed speaker pipe makes the engine's write fail instead of killing us.
    signal(SIGPIPE, SIG_IGN);
}

void EngineTest::TearDown() {
    for (int *end : {&micEnd_, &speakerEnd_}) {
        if (*end >= 0) ::close(*end);
        *end = -1;
    }
    // With its pipes closed the engine can no longer block; once it has
    // ended, its descriptors are closed without racing a driver call.
    audio_engine_stop();
    for (std::atomic<s32> *slot : {&g_AudioDevTable.aiFd, &g_AudioDevTable.aoFd}) {
        s32 fd = slot->exchange(-1);
        if (fd >= 0) port::close(fd);
    }
    VBoardTest::TearDown();
}

int EngineTest::make_pipe(const std::string &boardPath) {
    ::unlink(host(boardPath).c_str());
    EXPECT_EQ(::mkfifo(host(boardPath).c_str(), 0600), 0) << boardPath;
    int fd = ::open(host(boardPath).c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0) << boardPath;
    return fd;
}

void EngineTest::attach_input(const std::string &boardPath) {
    int fd = port::open(boardPath.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0) << boardPath;
    g_AudioDevTable.aiFd.store(fd);
}

void EngineTest::attach_output(const std::string &boardPath) {
    int fd = port::open(boardPath.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << boardPath;
    g_AudioDevTable.aoFd.store(fd);
}

void EngineTest::hear(const std::vector<s16> &samples) {
    const char *bytes = reinterpret_cast<const char *>(samples.data());
    size_t left = samples.size() * sizeof(s16);
    while (left > 0) {
        ssize_t n = ::write(micEnd_, bytes, left);
        ASSERT_GT(n, 0);
        bytes += n;
        left -= static_cast<size_t>(n);
    }
}

std::vector<s16> EngineTest::played(size_t frames) {
    std::vector<s16> out(frames * ZQ_AUDIO_FRAME_SAMPLES);
    char *bytes = reinterpret_cast<char *>(out.data());
    size_t left = out.size() * sizeof(s16);
    while (left > 0) {
        ssize_t n = ::read(speakerEnd_, bytes, left);
        EXPECT_GT(n, 0);
        if (n <= 0) break;
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    return out;
}

std::string EngineTest::log_text() const {
    return zq::sim::read_board_file(dir(), "/dev/log");
}

void EngineTest::trace_ai_calls() {
    ASSERT_TRUE(zq::sim::set_log_levels(dir(), {{"ai", 6}}));
}

std::vector<s16> pattern_frame(int n) {
    std::vector<s16> frame(ZQ_AUDIO_FRAME_SAMPLES);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<s16>(n * 1000 + static_cast<int>(i));
    return frame;
}
