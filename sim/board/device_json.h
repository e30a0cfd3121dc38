// "/usr/bin/device.json": the device configuration file of a new board,
// which names the speaker amplifier's GPIO (class "DeviceGpio", member
// "AoEnable"; 0 means the board has no amplifier GPIO).
#pragma once

#include <string>

namespace zq::sim {

// The amplifier GPIO of a new board: a pad inside the GPIO block, not 0.
constexpr int kAmplifierGpio = 52;

// Rewrites the board's device.json to name gpio as the amplifier GPIO.
bool set_amplifier_gpio(const std::string &dir, int gpio);

}  // namespace zq::sim
