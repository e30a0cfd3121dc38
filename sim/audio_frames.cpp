// Pacing of the audio emulators on the board clock.
#include "audio_frames.h"

#include <json-c/json.h>

#include <ctime>

#include "board.h"
#include "json_util.h"

namespace zq::sim {

bool board_clock_stopped() {
    json_object *root = board_json();
    bool stopped = json_double(json_get(root, "clock"), "speed", 1.0) <= 0;
    json_object_put(root);
    return stopped;
}

void sleep_until(int64_t boardNs) {
    // A signal may end a sleep early; the board time decides when we are there.
    for (int64_t now = board_monotonic_ns(); now < boardNs; now = board_monotonic_ns()) {
        int64_t left = boardNs - now;
        struct timespec pause {
            static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)
        };
        clock_sleep(&pause);
    }
}

int64_t board_number(const char *section, const char *key, int64_t fallback) {
    json_object *root = board_json();
    int64_t value = json_int64(json_get(root, section), key, fallback);
    json_object_put(root);
    return value;
}

bool set_board_number(const std::string &dir, const char *section, const char *key, int64_t value) {
    return edit_board(dir, [&](json_object *root) {
        json_object *part = json_get(root, section);
        if (!json_object_is_type(part, json_type_object)) {
            part = json_object_new_object();
            json_object_object_add(root, section, part);
        }
        json_object_object_add(part, key, json_object_new_int64(value));
    });
}

}  // namespace zq::sim
