// "/usr/bin/device.json": the device configuration file, which names the
// speaker amplifier's GPIO (class "DeviceGpio", member "AoEnable"; 0 means
// the board has no amplifier GPIO). A new board's names GPIO 52, a pad
// inside the GPIO block.
#pragma once

#include <string>

namespace zq::sim {

// Rewrites the board's device.json to name gpio as the amplifier GPIO.
bool set_amplifier_gpio(const std::string &dir, int gpio);

}  // namespace zq::sim
