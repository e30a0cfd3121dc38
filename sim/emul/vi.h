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

struct json_object;

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

// board.json "vi": the sensor's (and so the largest frame's) size and the
// physical address of the driver's frame buffers.
struct ViSettings {
    uint32_t maxWidth = 1920, maxHeight = 1080;
    uint64_t bufferBase = 0xA0000000;
    // Bytes from one buffer to the next: the largest NV12 frame, in whole pages.
    uint64_t stride() const;
    // Physical address of buffer `buffer` of channel `channel`.
    uint64_t buffer_address(int channel, uint32_t buffer) const;
};

ViSettings vi_settings(json_object *board);
// The channels at power-on (and after a reset) for these settings.
ViChannels vi_power_on(const ViSettings &settings);

// Source frames: whether frame n is kept, when it is captured, and the
// newest kept frame captured by board time nowNs (-1: none yet).
bool vi_frame_kept(const ViChannel &ch, uint64_t n);
int64_t vi_capture_ns(const ViChannel &ch, uint64_t n);
int64_t vi_latest_kept(const ViChannel &ch, int64_t nowNs);

// Draws the picture of source frame `frame` of a channel into nv12
// (width x height luma, then the UV rows): colour bars, the first luma row
// carrying the frame number (32 bits, most significant first, bit i in
// pixels 8i..8i+7 as luma 235 for 1 and 16 for 0, as far as the row
// reaches), and the channel's regions (channels 0-2).
void vi_render_frame(int channel, uint32_t frame, uint32_t width, uint32_t height, uint8_t *nv12);
// The number a first luma row carries.
uint32_t vi_frame_number(const uint8_t *lumaRow, uint32_t width);

// The channels a state file holds (power-on values for what it does not
// say), and the state file's contents for channels.
ViChannels vi_channels_of(json_object *root, const ViSettings &settings);
json_object *vi_channels_json(const ViChannels &channels);

// ---- the active board (seam side) ----

// The active board's settings, read again after every change of board.json.
ViSettings active_vi_settings();

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
