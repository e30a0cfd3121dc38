// "/dev/ao": the speaker. It takes whole 320-byte frames of 16-bit mono
// 8 kHz samples and appends them to "speaker.wav" in the board directory.
// Each frame plays for 20 ms of board time; the device queues one frame, so
// a write returns when the frame before it has played. At a stopped clock a
// write takes its own frame's 20 ms instead, so that N frames move the
// process's board time on by exactly N x 20 ms.
//
// The descriptor's file offset counts the bytes played through that open;
// the journal shows the first frame of each open and every 250th.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "emul/audio.h"
#include "emul/audio_frames.h"
#include "emul/board.h"
#include "emul/devices.h"
#include "emul/wav.h"

namespace zq::sim {
namespace {

constexpr const char *kSpeakerNode = "/dev/ao";

struct SpeakerState {
    std::mutex lock;
    int64_t playedUntil = 0;              // board time at which the last frame taken ends
    std::atomic<int64_t> framesTaken{0};  // by this process, for the refusal knob
    std::atomic<bool> refusalJournaled{false};
    std::atomic<bool> fileFailureJournaled{false};
};

SpeakerState g_speaker;

// Gives the next frame its 20 ms and returns the board time the write waits for.
int64_t schedule_frame(bool clockStopped) {
    std::lock_guard<std::mutex> hold(g_speaker.lock);
    int64_t now = board_monotonic_ns();
    // A clock set back would leave the speaker busy far into the future.
    if (g_speaker.playedUntil > now + kFrameNs) g_speaker.playedUntil = now;
    int64_t start = std::max(now, g_speaker.playedUntil);
    g_speaker.playedUntil = start + kFrameNs;
    return clockStopped ? g_speaker.playedUntil : start;
}

bool refused(int64_t refuseAfter) {
    if (refuseAfter < 0 || g_speaker.framesTaken.load() < refuseAfter) return false;
    if (!g_speaker.refusalJournaled.exchange(true))
        journal(kSpeakerNode, "write refused (EIO) after %lld frames",
                static_cast<long long>(refuseAfter));
    return true;
}

void journal_progress(int fd) {
    off_t played = ::lseek(fd, static_cast<off_t>(kFrameBytes), SEEK_CUR);
    if (played < 0) return;
    auto frames = static_cast<unsigned long long>(played) / kFrameBytes;
    if (frames == 1)
        journal(kSpeakerNode, "first frame played");
    else if (frames % kFramesPerJournalLine == 0)
        journal(kSpeakerNode, "%llu frames played", frames);
}

bool recorded(const uint8_t *frame) {
    if (wav_append(active_dir() + "/" + kSpeakerFile, frame, kFrameBytes)) return true;
    if (!g_speaker.fileFailureJournaled.exchange(true))
        journal(kSpeakerNode, "write failed (EIO): speaker.wav cannot be written");
    return false;
}

// Plays one frame; false (errno set) when the speaker refuses it.
bool play_frame(int fd, const uint8_t *frame, const AudioBoardSettings &settings) {
    if (refused(settings.speakerRefuseAfter) || !recorded(frame)) {
        errno = EIO;
        return false;
    }
    ++g_speaker.framesTaken;
    // Everything that touches the descriptor happens before the wait: the
    // descriptor may be closed meanwhile and its number given to another open.
    journal_progress(fd);
    sleep_until(schedule_frame(settings.clockStopped));
    return true;
}

ssize_t speaker_write(int fd, const void *buf, size_t count) {
    if (is_test_pipe(fd)) return ::write(fd, buf, count);
    if (!whole_frames(kSpeakerNode, "write", count)) return -1;
    AudioBoardSettings settings = audio_board_settings();
    const auto *bytes = static_cast<const uint8_t *>(buf);
    size_t done = 0;
    while (done < count && play_frame(fd, bytes + done, settings)) done += kFrameBytes;
    if (done == 0 && count > 0) return -1;
    return static_cast<ssize_t>(done);
}

}  // namespace

extern const Device kSpeakerDevice = {"/dev/ao", 0, nullptr, refuse_read, speaker_write};

// ---- test-facing ----

std::vector<int16_t> read_speaker(const std::string &dir) {
    return wav_read_samples(dir + "/" + kSpeakerFile);
}

bool clear_speaker(const std::string &dir) {
    return wav_write_samples(dir + "/" + kSpeakerFile, {});
}

}  // namespace zq::sim
