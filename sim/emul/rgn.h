// What the region driver "/dev/rgn" keeps: per video input channel a
// palette, 8 overlays and 32 covers. The state lives in the board file
// "dev/rgn" (JSON) and each overlay's bitmap bytes in
// "dev/rgn.d/osd-<channel>-<handle>", so that every process on the board,
// the video input emulator and tests see the same regions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

constexpr int kRgnChannels = 3;
constexpr unsigned kRgnOverlays = 8;
constexpr unsigned kRgnCovers = 32;

struct RgnOverlay {
    bool exists = false;
    bool shown = false;
    uint32_t width = 0, height = 0, format = 0;  // format: 1 << format bits per pixel
    int32_t x = 0, y = 0;
    uint32_t colorMap = 0, effect = 0;
    uint32_t bitmapBytes = 0;   // bytes loaded so far (0: none)
    uint32_t bitmapSerial = 0;  // counts the loads, so readers see a new bitmap
};

struct RgnCover {
    bool exists = false;
    bool shown = false;
    uint32_t width = 0, height = 0;
    int32_t x = 0, y = 0;
    uint32_t color = 0, effect = 0;  // color 0x00RRGGBB
};

struct RgnChannel {
    uint32_t palette[16] = {};  // 0xAARRGGBB; alpha 0 is transparent
    RgnOverlay overlays[kRgnOverlays];
    RgnCover covers[kRgnCovers];
};

struct RgnBoardState {
    RgnChannel channels[kRgnChannels];
};

// ---- test-facing ----

// Called with every request that reaches the driver, its record as the
// driver got it (size from the request code); null stops it.
using RgnRequestTap = void (*)(unsigned long request, const void *record, size_t size);
void set_rgn_request_tap(RgnRequestTap tap);

RgnBoardState read_regions(const std::string &dir);
std::vector<uint8_t> read_region_bitmap(const std::string &dir, int channel, unsigned handle);
// The state as lines of text (vboard rgn DIR show).
std::string regions_text(const RgnBoardState &state);

}  // namespace zq::sim
