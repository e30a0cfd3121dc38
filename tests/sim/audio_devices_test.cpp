// The audio emulators keep the drivers' rules: whole 320-byte frames paced at
// 20 ms of board time, a speaker.wav valid after every write, microphone frames
// of mic.wav from each open's start, then silence.
#include <fcntl.h>

#include <cerrno>

#include "emul/audio.h"
#include "emul/board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

constexpr uint64_t kFrameNs = 20'000'000;

std::vector<int16_t> ramp(size_t n, int first) {
    std::vector<int16_t> samples(n);
    for (size_t i = 0; i < n; ++i) samples[i] = static_cast<int16_t>(first + static_cast<int>(i));
    return samples;
}

// The frame of v from sample from on, silence beyond its end.
std::vector<int16_t> slice(const std::vector<int16_t> &v, size_t from) {
    std::vector<int16_t> out(160, 0);
    for (size_t i = 0; i < 160 && from + i < v.size(); ++i) out[i] = v[from + i];
    return out;
}

class AudioDevicesTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(30);
    }
    std::vector<int16_t> read_frame(int fd) {
        std::vector<int16_t> frame(160, 0x5555);
        EXPECT_EQ(port::read(fd, frame.data(), 320), 320);
        return frame;
    }
};

TEST_F(AudioDevicesTest, SpeakerPlaysEachFrameFor20MsAndKeepsItsWavValid) {
    int fd = port::open("/dev/ao", O_WRONLY);
    ASSERT_GE(fd, 0);
    const uint64_t start = port::monotonic_ns();
    std::vector<int16_t> played;
    for (int i = 0; i < 5; ++i) {  // one or two frames a write
        std::vector<int16_t> frames = ramp(160 * size_t(1 + i % 2), i * 1000 - 2000);
        ASSERT_EQ(port::write(fd, frames.data(), frames.size() * 2), ssize_t(frames.size() * 2));
        played.insert(played.end(), frames.begin(), frames.end());
        EXPECT_EQ(sim::read_speaker(dir()), played);
    }
    EXPECT_EQ(port::monotonic_ns() - start, 7 * kFrameNs);
    for (size_t bad : {size_t{100}, size_t{321}}) {
        EXPECT_EQ(port::write(fd, played.data(), bad), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    port::close(fd);
    EXPECT_EQ(
        journal_events("/dev/ao"),
        (std::vector<std::string>{
            "open", "first frame played", "write of 100 bytes refused: not whole 320-byte frames",
            "write of 321 bytes refused: not whole 320-byte frames", "close"}));
}

TEST_F(AudioDevicesTest, MicGivesMicWavFromTheStartOfEachOpenThenSilence) {
    std::vector<int16_t> heard = ramp(400, -200);
    ASSERT_TRUE(sim::write_mic(dir(), heard));
    int fd = port::open("/dev/ai", O_RDONLY);
    ASSERT_GE(fd, 0);
    const uint64_t start = port::monotonic_ns();
    for (size_t at = 0; at < 640; at += 160) EXPECT_EQ(read_frame(fd), slice(heard, at)) << at;
    EXPECT_EQ(port::monotonic_ns() - start, 4 * kFrameNs);
    int other = port::open("/dev/ai", O_RDONLY);
    EXPECT_EQ(read_frame(other), slice(heard, 0));
    EXPECT_EQ(port::read(fd, heard.data(), 100), -1);
    EXPECT_EQ(errno, EINVAL);
    port::close(other);
    port::close(fd);
}

}  // namespace
