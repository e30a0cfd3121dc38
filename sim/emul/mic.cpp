// "/dev/ai": the microphone. A read gives whole 320-byte frames of 16-bit
// mono 8 kHz samples from "mic.wav" in the board directory, from the
// descriptor's own place (the file offset; the start of the file at open),
// and silence where the file is absent, not in that format, or has ended.
//
// Capture starts with the first read of an open; frame k is there 20 ms
// after frame k-1, and a read blocks until its frames are. A reader that
// fell behind finds up to five captured frames waiting, as in the driver's
// buffer; beyond that capture starts over (nothing of mic.wav is skipped).
// At a stopped clock each frame's 20 ms pass at once, in the read.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "emul/audio.h"
#include "emul/audio_frames.h"
#include "emul/board.h"
#include "emul/devices.h"
#include "emul/file_util.h"
#include "emul/wav.h"

namespace zq::sim {
namespace {

constexpr const char *kMicNode = "/dev/ai";
constexpr int64_t kMicBufferNs = 5 * kFrameNs;

struct MicState {
    std::mutex lock;
    std::unordered_map<int, int64_t>
        nextCaptured;               // per descriptor: board time its next frame is there
    std::atomic<int64_t> reads{0};  // by this process, for the short-read knob
};

MicState g_mic;

// Returns the board time at which `frames` frames from byte `at` are captured.
int64_t schedule_frames(int fd, uint64_t at, size_t frames) {
    std::lock_guard<std::mutex> hold(g_mic.lock);
    int64_t now = board_monotonic_ns();
    int64_t &next = g_mic.nextCaptured[fd];
    // A fresh open starts capturing now; so does one whose clock was set back.
    if (at == 0 || next == 0 || next > now + kFrameNs) next = now + kFrameNs;
    next = std::max(next, now - kMicBufferNs + kFrameNs);
    int64_t ready = next + static_cast<int64_t>(frames - 1) * kFrameNs;
    next = ready + kFrameNs;
    return ready;
}

// Fills count bytes with what the microphone hears from byte `at` on.
WavProblem hear(uint64_t at, uint8_t *out, size_t count, uint32_t *micBytes) {
    std::memset(out, 0, count);
    int fd = ::open((active_dir() + "/" + kMicFile).c_str(), O_RDONLY | O_CLOEXEC);
    WavData data;
    WavProblem problem = wav_locate(fd, &data);
    *micBytes = problem == WavProblem::None ? data.bytes : 0;
    if (problem == WavProblem::None && at < data.bytes) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, data.bytes - at));
        if (!read_at(fd, out, n, data.offset + at)) std::memset(out, 0, n);
    }
    if (fd >= 0) ::close(fd);
    return problem;
}

void journal_frames(uint64_t at, size_t count, WavProblem problem, uint32_t micBytes) {
    // Why the microphone hears silence, indexed by WavProblem.
    static const char *const kSilent[] = {"", "no mic.wav", "mic.wav is not a WAV file",
                                          "mic.wav is not 16-bit mono 8000 Hz PCM"};
    if (at == 0) {
        if (problem == WavProblem::None)
            journal(kMicNode, "first frame read: mic.wav, %u samples", micBytes / 2);
        else
            journal(kMicNode, "first frame read: %s, silence", kSilent[static_cast<int>(problem)]);
    }
    if (at < micBytes && at + count >= micBytes)
        journal(kMicNode, "mic.wav ended in frame %llu: silence from here",
                static_cast<unsigned long long>((micBytes - 1) / kFrameBytes + 1));
    for (uint64_t end = at + kFrameBytes; end <= at + count; end += kFrameBytes)
        if (end / kFrameBytes % kFramesPerJournalLine == 0)
            journal(kMicNode, "%llu frames read",
                    static_cast<unsigned long long>(end / kFrameBytes));
}

// The bytes the read numbered readNo gives under the short-read knob:
// -1 for a failed read, count when the knob leaves it alone.
int64_t short_read_bytes(int64_t readNo, size_t count) {
    AudioBoardSettings s = audio_board_settings();
    int64_t at = s.micShortReadAt;
    if (at <= 0 || readNo < at || (s.micShortReads >= 0 && readNo >= at + s.micShortReads))
        return static_cast<int64_t>(count);
    return std::min(s.micShortReadBytes, static_cast<int64_t>(count));
}

// A glitch: the read returns at once with less than a frame, or fails,
// and the descriptor stays where it was.
ssize_t short_read(int64_t readNo, int64_t bytes, uint64_t at, void *buf, size_t count) {
    if (bytes < 0) {
        journal(kMicNode, "read %lld failed: EIO", static_cast<long long>(readNo));
        return fail(EIO);
    }
    uint32_t micBytes = 0;
    hear(at, static_cast<uint8_t *>(buf), static_cast<size_t>(bytes), &micBytes);
    journal(kMicNode, "read %lld short: %lld of %zu bytes", static_cast<long long>(readNo),
            static_cast<long long>(bytes), count);
    return static_cast<ssize_t>(bytes);
}

ssize_t mic_read(int fd, void *buf, size_t count) {
    if (is_test_pipe(fd)) return ::read(fd, buf, count);
    if (!whole_frames(kMicNode, "read", count)) return -1;
    if (count == 0) return 0;
    off_t place = ::lseek(fd, 0, SEEK_CUR);
    if (place < 0) return -1;
    auto at = static_cast<uint64_t>(place);
    int64_t readNo = ++g_mic.reads;
    int64_t bytes = short_read_bytes(readNo, count);
    if (bytes < static_cast<int64_t>(count)) return short_read(readNo, bytes, at, buf, count);
    // The descriptor moves on before the wait: it may be closed meanwhile
    // and its number given to another open.
    ::lseek(fd, place + static_cast<off_t>(count), SEEK_SET);
    sleep_until(schedule_frames(fd, at, count / kFrameBytes));
    uint32_t micBytes = 0;
    WavProblem problem = hear(at, static_cast<uint8_t *>(buf), count, &micBytes);
    journal_frames(at, count, problem, micBytes);
    return static_cast<ssize_t>(count);
}

}  // namespace

extern const Device kMicDevice = {"/dev/ai", 0, nullptr, mic_read, refuse_write};

// ---- test-facing ----

bool write_mic(const std::string &dir, const std::vector<int16_t> &samples) {
    return wav_write_samples(dir + "/" + kMicFile, samples);
}

}  // namespace zq::sim
