// "/dev/vo", the video output driver: what it keeps of the display (the
// timing, four channels, the image and video layers) and the picture the
// panel shows. For vboard and for tests.
//
// The driver's state lives in its node file "dev/vo" (JSON: the records as
// the driver took them), so every process on the board sees the same display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zq_vo.h"

namespace zq::sim {

constexpr const char *kVoDevice = "/dev/vo";
constexpr int kVoChannels = ZQ_VO_MAX_CHN;
// The largest active width and height the driver takes.
constexpr uint32_t kVoMaxSide = 4096;
// Refreshes of the panel per board second.
constexpr uint32_t kVoRefreshRate = 60;

struct VoChannelState {
    VoDrvChnRect rect;  // as last accepted
    VoDrvChnCrop crop;
    uint32_t rectSet, cropSet, enabled;
};

// What the driver keeps; all zero at power-on.
struct VoDriverState {
    VoDrvTiming timing;
    uint32_t timingSet;
    VoChannelState channels[kVoChannels];
    VoDrvImageLayer layer;
    uint32_t layerSet, layerEnabled;
    VoDrvVideoLayer videoLayer;
    uint32_t videoLayerSet;
};

// The state of the driver of the board at dir (power-on state when the
// node holds none).
VoDriverState read_vo_state(const std::string &dir);
// The state as text, for `vboard vo DIR show`.
std::string describe_vo(const std::string &dir);

// A picture of the display: width x height pixels, 3 bytes (R, G, B) each,
// rows top to bottom.
struct VoPicture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

// What the panel of the board at dir (the active board: the input
// channels' pictures are its) shows now, at the timing's active size: the
// background colour; each enabled channel, in channel order, showing the
// picture of the input channel bound to it scaled into its rectangle
// (black while that channel has no picture; an enabled crop shows its
// window of the picture enlarged to the rectangle); then the enabled image
// layer from its frame buffer in the board's memory. False (with a reason)
// before a timing was set.
bool compose_vo_display(const std::string &dir, VoPicture *picture, std::string *error);

}  // namespace zq::sim
