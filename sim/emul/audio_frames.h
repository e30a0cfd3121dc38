// What the speaker and microphone emulators share: the frame the audio
// drivers move (160 samples, 320 bytes, 20 ms) and their pacing on the
// board clock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq::sim {

constexpr size_t kFrameBytes = 320;
constexpr int64_t kFrameNs = 20'000'000;

// Frames between two journal lines of a stream (5 s of sound).
constexpr uint64_t kFramesPerJournalLine = 250;

// What board.json says to the speaker and microphone, read once per load
// of board.json rather than per frame.
struct AudioBoardSettings {
    bool clockStopped = false;  // speed 0: time moves only with the process's own sleeps
    int64_t speakerRefuseAfter = -1;
    int64_t micShortReadAt = 0;
    int64_t micShortReads = 1;
    int64_t micShortReadBytes = 0;
};

AudioBoardSettings audio_board_settings();

// A test may put a named pipe at the node to feed or drain frames itself;
// the emulator then stands aside.
bool is_test_pipe(int fd);

// The drivers move whole frames; anything else is refused (EINVAL) and
// journaled for node, as a "read" or a "write". True when count is whole.
bool whole_frames(const char *node, const char *what, size_t count);

}  // namespace zq::sim
