// What the speaker and microphone emulators share: their board.json knobs,
// the test pipe and the whole-frame rule.
#include "emul/audio_frames.h"

#include <json-c/json.h>
#include <sys/stat.h>

#include <cerrno>

#include "emul/board.h"
#include "emul/json_util.h"

namespace zq::sim {

namespace {

AudioBoardSettings settings_from(json_object *root) {
    AudioBoardSettings s;
    s.clockStopped = json_double(json_get(root, "clock"), "speed", 1.0) <= 0;
    json_object *speaker = json_get(root, "speaker");
    s.speakerRefuseAfter = json_int64(speaker, "refuse_after_frames", s.speakerRefuseAfter);
    json_object *mic = json_get(root, "mic");
    s.micShortReadAt = json_int64(mic, "short_read_at", s.micShortReadAt);
    s.micShortReads = json_int64(mic, "short_reads", s.micShortReads);
    s.micShortReadBytes = json_int64(mic, "short_read_bytes", s.micShortReadBytes);
    return s;
}

}  // namespace

AudioBoardSettings audio_board_settings() {
    return cached_board_json<settings_from>();
}

bool is_test_pipe(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

bool whole_frames(const char *node, const char *what, size_t count) {
    if (count % kFrameBytes == 0) return true;
    journal(node, "%s of %zu bytes refused: not whole %zu-byte frames", what, count, kFrameBytes);
    errno = EINVAL;
    return false;
}

}  // namespace zq::sim
