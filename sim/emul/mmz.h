// "/dev/mmz", the media memory zone's driver: the zone of board.json "mmz"
// and the buffers handed out from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emul/devices.h"

namespace zq::sim {

constexpr const char *kMmzDevice = "/dev/mmz";
constexpr uint32_t kMmzDefaultBase = 0x90000000;
constexpr uint32_t kMmzDefaultSize = 64u << 20;

struct MmzBuffer {
    std::string name;
    uint32_t length;  // whole pages
    uint32_t phys;
    bool cached;
};

// The requests the driver received in this process (no record for the reset).
using MmzRequestSeen = RequestSeen;
std::vector<MmzRequestSeen> mmz_requests();

// The buffers handed out on the board at dir, in address order.
std::vector<MmzBuffer> mmz_buffers(const std::string &dir);

}  // namespace zq::sim
