// The video output's part of a new board: the driver's node, which holds
// the display's state (empty: power-on).
#include <string>

#include "board/parts.h"
#include "emul/vo.h"

namespace zq::sim {
namespace {

bool vo_create(const std::string &dir, json_object *, std::string *error) {
    return make_node(dir, kVoDevice, error);
}

}  // namespace

extern const BoardPart kVoPart;
const BoardPart kVoPart = {"video output", nullptr, vo_create, nullptr};

}  // namespace zq::sim
