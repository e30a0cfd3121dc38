// What the region driver shows on the video input side: the overlays and
// covers attached to an input channel, drawn into that channel's NV12
// pictures by the video input emulator.
#pragma once

#include <cstdint>

namespace zq::sim {

// Draws the shown regions of video input channel `channel` (0-2) of the
// active board into a picture of width x height pixels: a luma plane of
// width bytes a row, then an interleaved UV plane of width bytes a row at
// half the height.
void draw_vi_regions(int channel, uint8_t *luma, uint8_t *chroma, uint32_t width, uint32_t height);

}  // namespace zq::sim
