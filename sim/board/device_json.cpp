// The device configuration file "/usr/bin/device.json": a new board's comes
// from its fixed files (sim/board/files); tests rewrite it here.
#include "board/device_json.h"

#include <json-c/json.h>

#include "emul/json_util.h"

namespace zq::sim {

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
