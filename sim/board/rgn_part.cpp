// The region driver's part of a new board: the node "dev/rgn", empty (no
// palettes, no regions). Bitmaps go to "dev/rgn.d" as they are loaded.
#include <string>

#include "board/parts.h"

namespace zq::sim {
namespace {

bool rgn_create(const std::string &dir, json_object *, std::string *error) {
    return make_node(dir, "/dev/rgn", error);
}

}  // namespace

extern const BoardPart kRgnPart;
const BoardPart kRgnPart = {"region driver", nullptr, rgn_create, nullptr};

}  // namespace zq::sim
