// The video input's part of a new board: the sensor size and the address
// of the driver's frame buffers in board.json, and the node "dev/vi" (empty:
// the channels start at their power-on state).
#include <json-c/json.h>

#include <string>

#include "board/parts.h"
#include "emul/vi.h"

namespace zq::sim {
namespace {

void vi_defaults(json_object *root) {
    const ViSettings settings;
    json_object *vi = json_object_new_object();
    json_object_object_add(vi, "buffer_base",
                           json_object_new_int64(static_cast<int64_t>(settings.bufferBase)));
    json_object_object_add(vi, "max_width", json_object_new_int64(settings.maxWidth));
    json_object_object_add(vi, "max_height", json_object_new_int64(settings.maxHeight));
    json_object_object_add(root, "vi", vi);
}

bool vi_create(const std::string &dir, json_object *, std::string *error) {
    return make_node(dir, kViDevice, error);
}

}  // namespace

extern const BoardPart kViPart;
const BoardPart kViPart = {"video input", vi_defaults, vi_create, nullptr};

}  // namespace zq::sim
