// "/dev/vi", the video input driver: its channel state, where its frame
// buffers lie in physical memory, and the pictures it captures. For the
// other emulators (the display shows what a channel shows), for vboard
// and for tests.
//
// Channel state lives in the node file "dev/vi" (JSON), so every process
// on the board sees the same channels; the frames a process holds are its
// own, as the kernel keeps them per open file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "emul/devices.h"

namespace zq::sim {

constexpr const char *kViDevice = "/dev/vi";
constexpr int kViChannels = 6;
constexpr uint32_t kViBuffers = 4;     // frame buffers per channel
constexpr uint32_t kViMaxRate = 30;    // source frames per second, at most
constexpr uint32_t kViLumaHigh = 235;  // a 1 in the frame-number row
constexpr uint32_t kViLumaLow = 16;    // a 0

struct ViChannel {
    bool enabled = false;
    uint32_t width = 0, height = 0;  // output size
    int32_t capX = 0, capY = 0;      // capture rectangle (channel 0)
    uint32_t capWidth = 0, capHeight = 0;
    uint32_t srcRate = kViMaxRate;
    uint32_t keepMask = (1u << kViMaxRate) - 1;  // bit i: frame i of each second kept
    int32_t bindKind = -1, bindChn = -1;         // -1: not bound
    // Frame anchorFrame was captured at anchorNs (board monotonic); the
    // source frames follow at srcRate. Enabling starts at frame 0.
    int64_t anchorNs = 0;
    uint64_t anchorFrame = 0;
};

using ViChannels = std::array<ViChannel, kViChannels>;

// The number the first luma row of a captured picture carries: 32 bits,
// most significant first, bit i in pixels 8i..8i+7 as luma 235 for 1 and 16
// for 0, as far as the row reaches.
uint32_t vi_frame_number(const uint8_t *lumaRow, uint32_t width);

// ---- the active board (seam side) ----

// The picture enabled channel `channel` shows now (its newest kept frame);
// false when it is not enabled or has captured nothing yet.
bool vi_render_latest(int channel, std::vector<uint8_t> *nv12, uint32_t *width, uint32_t *height);
// The input channel bound to output channel voChannel (the lowest, when
// several are), -1 when none is.
int vi_channel_bound_to_vo(int voChannel);

// ---- this process (test-facing) ----

// A request as the driver received it (no record for the reset or a null argument).
using ViRequest = RequestSeen;
// This process's requests that reached the driver (not those refused by a
// fault knob), oldest first; cleared by clear_vi_requests.
std::vector<ViRequest> vi_requests();
void clear_vi_requests();

// ---- any board (test-facing, vboard) ----

// The channels of the board at dir as its driver keeps them.
ViChannels read_vi_channels(const std::string &dir);
// The state as text, one line a channel, for `vboard vi DIR show`.
std::string describe_vi(const std::string &dir);

}  // namespace zq::sim
