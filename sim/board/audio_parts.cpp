// The audio hardware of a board: the speaker's file on a new board, and the
// fault knobs of the speaker and the microphone.
#include <json-c/json.h>

#include <string>

#include "board/parts.h"
#include "emul/audio.h"
#include "emul/board.h"
#include "emul/wav.h"

namespace zq::sim {
namespace {

bool speaker_create(const std::string &dir, json_object *, std::string *error) {
    bool ok = wav_write_samples(dir + "/" + kSpeakerFile, {});
    if (!ok && error) *error = dir + ": the speaker cannot be made";
    return ok;
}

}  // namespace

const BoardPart kSpeakerPart = {"speaker", speaker_create, nullptr};

bool set_speaker_refusal(const std::string &dir, int64_t frames) {
    return set_board_number(dir, "speaker", "refuse_after_frames", frames);
}

bool set_mic_short_reads(const std::string &dir, int64_t at, int64_t count, int64_t bytes) {
    return edit_board(dir, [&](json_object *root) {
        json_object *mic = json_object_new_object();
        json_object_object_add(mic, "short_read_at", json_object_new_int64(at));
        json_object_object_add(mic, "short_reads", json_object_new_int64(count));
        json_object_object_add(mic, "short_read_bytes", json_object_new_int64(bytes));
        json_object_object_add(root, "mic", mic);
    });
}

}  // namespace zq::sim
