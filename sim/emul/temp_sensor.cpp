// "/dev/temp_sensor": the chip's temperature sensor. Its one request fills a
// signed 32-bit value with board.json's "temperature.value", in the
// driver's own unit; every read is journaled, so tests can count them.
#include <json-c/json.h>

#include <cstdint>
#include <cstring>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"
#include "zq_system.h"

namespace zq::sim {
namespace {

int temp_ioctl(int, unsigned long request, void *arg) {
    if (!known_request(request, ZQ_TEMP_SENSOR_READ, arg)) return -1;
    json_object *root = board_json();
    auto value = static_cast<int32_t>(json_int64(json_get(root, "temperature"), "value", 0));
    json_object_put(root);
    std::memcpy(arg, &value, sizeof value);
    journal("temp_sensor", "read %d", static_cast<int>(value));
    return 0;
}

}  // namespace

extern const Device kTempSensorDevice = {"/dev/temp_sensor", 0, temp_ioctl, refuse_read,
                                         refuse_write};

}  // namespace zq::sim
