// Pictures as the board's video emulators and vboard see them: NV12 from
// the video input, packed RGB for the display and for PNG files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

// One NV12 pixel (studio-range BT.601: width luma bytes a row, then the
// interleaved UV rows at half height) as R, G, B.
inline void nv12_pixel_rgb(const uint8_t *nv12, uint32_t width, uint32_t height, uint32_t x,
                           uint32_t y, uint8_t *rgb) {
    auto clamp8 = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    int c = nv12[size_t{y} * width + x] - 16;
    size_t uv = size_t{width} * height + size_t{y / 2} * width + (x & ~1u);
    int d = nv12[uv] - 128, e = nv12[uv + 1] - 128;
    rgb[0] = clamp8((298 * c + 409 * e + 128) >> 8);
    rgb[1] = clamp8((298 * c - 100 * d - 208 * e + 128) >> 8);
    rgb[2] = clamp8((298 * c + 516 * d + 128) >> 8);
}

// A whole NV12 picture as packed RGB, rows top to bottom.
inline std::vector<uint8_t> nv12_to_rgb(const std::vector<uint8_t> &nv12, uint32_t width,
                                        uint32_t height) {
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            nv12_pixel_rgb(nv12.data(), width, height, x, y, &rgb[(size_t{y} * width + x) * 3]);
    return rgb;
}

// Writes packed RGB as an 8-bit RGB PNG file through libpng (vboard and
// tests only, never the SDK's library); false with a reason, "built without
// PNG support" where the build found no libpng.
bool write_rgb_png(const std::string &path, const std::vector<uint8_t> &rgb, uint32_t width,
                   uint32_t height, std::string *error);

}  // namespace zq::sim
