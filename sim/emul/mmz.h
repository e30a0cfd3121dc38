// "/dev/mmz", the media memory zone's driver: the zone of board.json "mmz"
// and the buffers handed out from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A request as the driver received it in this process: its code and the
// record's bytes (none for the reset). Test-facing.
struct MmzRequestSeen {
    unsigned long code;
    std::vector<uint8_t> record;
};
std::vector<MmzRequestSeen> mmz_requests();

// The buffers handed out on the board at dir, in address order.
std::vector<MmzBuffer> mmz_buffers(const std::string &dir);

}  // namespace zq::sim
