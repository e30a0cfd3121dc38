// The temperature sensor's part of a new board: its reading in board.json
// and the node "dev/temp_sensor".
#include <json-c/json.h>

#include <string>

#include "board/parts.h"

namespace zq::sim {
namespace {

void temp_defaults(json_object *root) {
    json_object *temperature = json_object_new_object();
    json_object_object_add(temperature, "value", json_object_new_int(45));
    json_object_object_add(root, "temperature", temperature);
}

bool temp_create(const std::string &dir, json_object *, std::string *error) {
    return make_node(dir, "/dev/temp_sensor", error);
}

}  // namespace

extern const BoardPart kTempSensorPart;
const BoardPart kTempSensorPart = {"temperature sensor", temp_defaults, temp_create, nullptr};

}  // namespace zq::sim
