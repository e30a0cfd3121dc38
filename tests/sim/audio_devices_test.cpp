// The audio emulators keep the drivers' rules: whole 320-byte frames paced at
// 20 ms of board time, a speaker.wav valid after every write, microphone frames
// of mic.wav from each open's start, a codec whose settings every process sees.
#include "audio_devices.h"

#include <fcntl.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "audio/acodec.h"
#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "wav.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

constexpr uint64_t kFrameNs = 20'000'000;

std::vector<int16_t> ramp(size_t n, int first) {
    std::vector<int16_t> samples(n);
    for (size_t i = 0; i < n; ++i) samples[i] = static_cast<int16_t>(first + static_cast<int>(i));
    return samples;
}

// Samples [from, from + n) of v, silence beyond its end.
std::vector<int16_t> slice(const std::vector<int16_t> &v, size_t from, size_t n = 160) {
    std::vector<int16_t> out(n, 0);
    for (size_t i = 0; i < n && from + i < v.size(); ++i) out[i] = v[from + i];
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
    long events(const std::string &subject, const std::string &event) {
        std::vector<std::string> all = journal_events(subject);
        return std::count(all.begin(), all.end(), event);
    }
};

TEST_F(AudioDevicesTest, SpeakerPlaysEachFrameFor20MsKeepsItsWavValidAndRefusesOnCue) {
    EXPECT_EQ(sim::read_board_file(dir(), "/speaker.wav").size(), 44u);  // a new board's
    int fd = port::open("/dev/ao", O_WRONLY);
    ASSERT_GE(fd, 0);
    const uint64_t start = port::monotonic_ns();
    std::vector<int16_t> played;
    for (int i = 0; i < 5; ++i) {  // one or two frames a write
        std::vector<int16_t> frames = ramp(160 * size_t(1 + i % 2), i * 1000 - 2000);
        ASSERT_EQ(port::write(fd, frames.data(), frames.size() * 2), ssize_t(frames.size() * 2));
        played.insert(played.end(), frames.begin(), frames.end());
        auto header = sim::wav_header(static_cast<uint32_t>(played.size() * 2));
        EXPECT_EQ(sim::read_board_file(dir(), "/speaker.wav").substr(0, 44),
                  std::string(header.begin(), header.end()));
        EXPECT_EQ(sim::read_speaker(dir()), played);
    }
    EXPECT_EQ(port::monotonic_ns() - start, 7 * kFrameNs);
    for (size_t bad : {size_t{100}, size_t{321}}) {
        EXPECT_EQ(port::write(fd, played.data(), bad), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    ASSERT_TRUE(sim::set_speaker_refusal(dir(), 8));
    EXPECT_EQ(port::write(fd, played.data(), 640), 320);  // only the eighth frame is taken
    EXPECT_EQ(port::write(fd, played.data(), 320), -1);
    EXPECT_EQ(errno, EIO);
    port::close(fd);
    EXPECT_EQ(sim::read_speaker(dir()).size(), 8 * 160u);
    EXPECT_EQ(journal_events("/dev/ao"),
              (std::vector<std::string>{"open", "first frame played",
                                        "write of 100 bytes refused: not whole 320-byte frames",
                                        "write of 321 bytes refused: not whole 320-byte frames",
                                        "write refused (EIO) after 8 frames", "close"}));
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
    EXPECT_EQ(events("/dev/ai", "first frame read: mic.wav, 400 samples"), 2);
    EXPECT_EQ(events("/dev/ai", "mic.wav ended in frame 3: silence from here"), 1);
}

TEST_F(AudioDevicesTest, MicIsSilentWithoutAUsableMicWav) {
    auto header = sim::wav_header(640);
    std::string stereo(header.begin(), header.end());
    stereo[22] = 2;  // channels
    const std::pair<const char *, std::string> cases[] = {
        {"first frame read: no mic.wav, silence", ""},
        {"first frame read: mic.wav is not 16-bit mono 8000 Hz PCM, silence",
         stereo + std::string(640, '\x11')},
        {"first frame read: mic.wav is not a WAV file, silence", "RIFF....WAVE plain text"},
    };
    EXPECT_FALSE(std::filesystem::exists(host("/mic.wav")));  // a new board's
    for (const auto &[event, content] : cases) {
        if (!content.empty()) std::ofstream(host("/mic.wav"), std::ios::binary) << content;
        int fd = port::open("/dev/ai", O_RDONLY);
        EXPECT_EQ(read_frame(fd), std::vector<int16_t>(160, 0)) << event;
        port::close(fd);
        EXPECT_EQ(events("/dev/ai", event), 1) << event;
    }
}

TEST_F(AudioDevicesTest, ShortAndFailedMicReadsReturnAtOnceAndKeepThePlace) {
    std::vector<int16_t> heard = ramp(480, 0), frame(160, 0x5555);
    ASSERT_TRUE(sim::write_mic(dir(), heard));
    ASSERT_TRUE(sim::set_mic_short_reads(dir(), 2, 1, 100));
    int fd = port::open("/dev/ai", O_RDONLY);
    EXPECT_EQ(read_frame(fd), slice(heard, 0));
    const uint64_t before = port::monotonic_ns();
    EXPECT_EQ(port::read(fd, frame.data(), 320), 100);
    EXPECT_EQ(port::monotonic_ns(), before);
    EXPECT_EQ(slice(frame, 0, 50), slice(heard, 160, 50));
    EXPECT_EQ(frame[50], 0x5555);
    EXPECT_EQ(read_frame(fd), slice(heard, 160));
    ASSERT_TRUE(sim::set_mic_short_reads(dir(), 4, -1, -1));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(port::read(fd, frame.data(), 320), -1);
        EXPECT_EQ(errno, EIO);
    }
    port::close(fd);
    EXPECT_EQ(events("/dev/ai", "read 2 short: 100 of 320 bytes"), 1);
    EXPECT_EQ(events("/dev/ai", "read 5 failed: EIO"), 1);
}

// Each request is made on a fresh open; the settings live on in the node.
TEST_F(AudioDevicesTest, CodecKeepsItsSettingsAcrossOpensAndJournalsEveryRequest) {
    EXPECT_EQ(sim::read_codec(dir()).inputVolume, 50);  // a new board's
    const struct {
        unsigned long request;
        s32 value, result, error, after;
    } requests[] = {
        {kAcodecSetOutputVolume, 100, 0, 0, 100}, {kAcodecGetOutputMute, -1, 0, 0, 0},
        {kAcodecSetOutputMute, 7, 0, 0, 7},       {kAcodecGetOutputMute, -1, 0, 0, 1},
        {kAcodecSetInputVolume, 40, 0, 0, 40},    {kAcodecSetOutputVolume, 101, -1, EINVAL, 101},
        {0x40044102, 1, -1, ENOTTY, 1},
    };
    for (auto r : requests) {
        int fd = port::open("/dev/acodec", O_RDWR);
        errno = 0;
        EXPECT_EQ(port::ioctl(fd, r.request, &r.value), r.result) << std::hex << r.request;
        EXPECT_EQ(errno, r.error);
        EXPECT_EQ(r.value, r.after);
        port::close(fd);
    }
    int fd = port::open("/dev/acodec", O_RDWR);
    EXPECT_EQ(port::ioctl(fd, kAcodecGetOutputMute, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    char byte;
    EXPECT_EQ(port::read(fd, &byte, 1), -1);
    EXPECT_EQ(port::write(fd, &byte, 1), -1);
    port::close(fd);
    sim::CodecState codec = sim::read_codec(dir());
    EXPECT_EQ((std::vector<int>{codec.outputVolume, codec.outputMute, codec.inputVolume}),
              (std::vector<int>{100, 1, 40}));
    EXPECT_EQ(
        journal_events("acodec"),
        (std::vector<std::string>{
            "set output volume 100", "get output mute 0", "set output mute 7", "get output mute 1",
            "set input volume 40", "set output volume 101 refused: not 0..100",
            "request 0x40044102 unknown", "get output mute refused: no argument"}));
}

TEST_F(AudioDevicesTest, WavReaderSkipsOtherChunksAndStopsWhereTheFileEnds) {
    auto canonical = sim::wav_header(0);
    std::string header(canonical.begin(), canonical.end());
    // "LIST" of odd size 3 with its pad byte between fmt and data; the data
    // size claims more than the file has, and a stray odd byte ends it.
    std::ofstream(host("/odd.wav"), std::ios::binary)
        << header.substr(0, 36) + std::string("LIST\x03\0\0\0abc\0", 12) + "data" +
               std::string("\xFF\xFF\xFF\xFF\x01\x00\x02\x00\xFF\xFF\x7F", 11);
    EXPECT_EQ(sim::wav_read_samples(host("/odd.wav")), (std::vector<int16_t>{1, 2, -1}));
    // Appending to what is no WAV file starts a new one.
    std::ofstream(host("/junk.wav"), std::ios::binary) << "not a wav file at all, no no no";
    int16_t two[2] = {-5, 5};
    ASSERT_TRUE(sim::wav_append(host("/junk.wav"), two, sizeof two));
    ASSERT_TRUE(sim::wav_append(host("/junk.wav"), two, sizeof two));
    EXPECT_EQ(sim::wav_read_samples(host("/junk.wav")), (std::vector<int16_t>{-5, 5, -5, 5}));
    EXPECT_EQ(std::filesystem::file_size(host("/junk.wav")), 52u);
}

}  // namespace
