// The audio codec driver "/dev/acodec": output volume and mute, input
// volume. It is opened read-write for one request and closed right after,
// so a codec that cannot be opened fails only the request at hand.
#pragma once

#include "zq_common.h"

// Linux request encoding: direction, argument size 4, type 'A', number.
constexpr unsigned long kAcodecSetOutputVolume = 0x40044101;  // write, 'A', 1
constexpr unsigned long kAcodecSetOutputMute = 0x40044103;    // write, 'A', 3
constexpr unsigned long kAcodecGetOutputMute = 0x80044104;    // read, 'A', 4
constexpr unsigned long kAcodecSetInputVolume = 0x40044105;   // write, 'A', 5

enum class AcodecResult { Done, NoDevice, Refused };

// Sends one request with a pointer to value; the driver reads or fills it.
AcodecResult acodec_request(unsigned long request, s32 *value);
