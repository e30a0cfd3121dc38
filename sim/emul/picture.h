// Pictures as the board's video emulators and vboard see them: NV12 from
// the video input, packed RGB for the display and for PNG files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

struct Yuv {
    uint8_t y, u, v;
};

// A colour 0x..RRGGBB as studio-range BT.601 Y, U and V.
inline Yuv rgb_to_yuv(uint32_t rgb) {
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return {static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16),
            static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128),
            static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128)};
}

// over laid on under with alpha 0 (under only) to 255 (over only).
inline uint8_t blend(uint8_t under, uint8_t over, unsigned alpha) {
    return static_cast<uint8_t>((over * alpha + under * (255 - alpha) + 127) / 255);
}

// The part of a rectangle at x, y inside a picture of pw x ph pixels:
// columns [x0, x1) and rows [y0, y1).
struct Span {
    uint32_t x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

inline Span clip(int64_t x, int64_t y, uint64_t width, uint64_t height, uint32_t pw, uint32_t ph) {
    auto clamp = [](int64_t v, uint32_t limit) {
        return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, limit));
    };
    return {clamp(x, pw), clamp(y, ph), clamp(x + static_cast<int64_t>(width), pw),
            clamp(y + static_cast<int64_t>(height), ph)};
}

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

// Scales a 4:2:0 picture (planes Y, U, V as emul/y4m.h has them) of
// sw x sh to NV12 of dw x dh (both even), bilinear.
void scale_i420_to_nv12(const uint8_t *i420, uint32_t sw, uint32_t sh, uint8_t *nv12, uint32_t dw,
                        uint32_t dh);
// Packed RGB as 4:2:0 planes, each chroma sample the mean of its 2x2 block.
void rgb_to_i420(const uint8_t *rgb, uint32_t width, uint32_t height, uint8_t *i420);

// Writes packed RGB as an 8-bit RGB PNG file through libpng (vboard and
// tests only, never the SDK's library); false with a reason, "built without
// PNG support" where the build found no libpng.
bool write_rgb_png(const std::string &path, const std::vector<uint8_t> &rgb, uint32_t width,
                   uint32_t height, std::string *error);
// Reads a PNG file as packed RGB (transparency laid on black); false with a
// reason for a file that is no PNG, is broken, or is larger than maxSide on
// a side (refused before its pixels are read).
bool read_rgb_png(const std::string &path, uint32_t maxSide, std::vector<uint8_t> *rgb,
                  uint32_t *width, uint32_t *height, std::string *error);

}  // namespace zq::sim
