// The device configuration file of a new board. It is made once: the SDK
// and the tools may rewrite it, so later board.json edits leave it alone.
#include "board/device_json.h"

#include <json-c/json.h>

#include "board/parts.h"
#include "emul/json_util.h"

namespace zq::sim {
namespace {

bool device_json_create(const std::string &dir, json_object *, std::string *error) {
    if (set_amplifier_gpio(dir, kAmplifierGpio)) return true;
    if (error) *error = dir + "/usr/bin/device.json: cannot be written";
    return false;
}

}  // namespace

extern const BoardPart kDeviceJsonPart;
const BoardPart kDeviceJsonPart = {"device.json", nullptr, device_json_create, nullptr};

bool set_amplifier_gpio(const std::string &dir, int gpio) {
    json_object *root = json_object_new_object();
    json_object *deviceGpio = json_object_new_object();
    json_object_object_add(deviceGpio, "AoEnable", json_object_new_int(gpio));
    json_object_object_add(root, "DeviceGpio", deviceGpio);
    bool ok = json_save_file(dir + "/usr/bin/device.json", root);
    json_object_put(root);
    return ok;
}

}  // namespace zq::sim
