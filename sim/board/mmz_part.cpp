// The media memory zone's part of a new board: the zone in board.json and
// the driver's node, whose contents are its table of buffers.
#include <json-c/json.h>

#include <string>

#include "board/parts.h"
#include "emul/mmz.h"

namespace zq::sim {
namespace {

void mmz_defaults(json_object *root) {
    json_object *mmz = json_object_new_object();
    json_object_object_add(mmz, "base", json_object_new_int64(kMmzDefaultBase));
    json_object_object_add(mmz, "size", json_object_new_int64(kMmzDefaultSize));
    json_object_object_add(root, "mmz", mmz);
}

bool mmz_create(const std::string &dir, json_object *, std::string *error) {
    return make_node(dir, kMmzDevice, error);
}

}  // namespace

extern const BoardPart kMmzPart;
const BoardPart kMmzPart = {"media memory zone", mmz_defaults, mmz_create, nullptr};

}  // namespace zq::sim
