// Pacing of the audio emulators on the board clock.
#include "emul/audio_frames.h"

#include <json-c/json.h>
#include <sys/stat.h>

#include <cerrno>
#include <mutex>

#include "emul/board.h"
#include "emul/json_util.h"

namespace zq::sim {

namespace {

struct SettingsCache {
    std::mutex lock;
    unsigned generation = 0;  // of the board.json load the settings come from; 0: none yet
    AudioBoardSettings settings;
};

SettingsCache g_settings;

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
    unsigned generation = board_generation();
    std::lock_guard<std::mutex> hold(g_settings.lock);
    if (generation != g_settings.generation) {
        json_object *root = board_json();
        g_settings.settings = settings_from(root);
        json_object_put(root);
        g_settings.generation = generation;
    }
    return g_settings.settings;
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
