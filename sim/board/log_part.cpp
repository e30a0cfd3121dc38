// The log driver's part of a new board: its level table in board.json and
// the empty sink "dev/log".
#include <json-c/json.h>

#include <string>

#include "emul/board.h"
#include "board/parts.h"

namespace zq::sim {
namespace {

// The driver's table on a new board: the SDK's own initial levels.
void log_defaults(json_object *root) {
    set_log_levels_json(root, {{"sys", 3},
                               {"ai", 3},
                               {"ao", 3},
                               {"aenc", 3},
                               {"adec", 3},
                               {"rgn", 3},
                               {"vi", 3},
                               {"vo", 3},
                               {"venc", 3},
                               {"vdec", 3}});
}

bool log_create(const std::string &dir, json_object *, std::string *error) {
    return make_node(dir, "/dev/log", error);
}

}  // namespace

extern const BoardPart kLogPart;
const BoardPart kLogPart = {"log", log_defaults, log_create, nullptr};

}  // namespace zq::sim
