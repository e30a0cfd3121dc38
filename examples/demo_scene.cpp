// Draws the demo's picture for the camera to look at: a small landscape
// (sky, sun, hills, a house with a number plate), written as a PNG file.
//   demo_scene OUT.png
// Made at build time, so the demo needs nothing from the network.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "emul/picture.h"

namespace {

constexpr uint32_t kWidth = 960, kHeight = 540;

struct Canvas {
    std::vector<uint8_t> rgb = std::vector<uint8_t>(size_t{kWidth} * kHeight * 3);
    void put(uint32_t x, uint32_t y, uint32_t colour) {
        uint8_t *p = &rgb[(size_t{y} * kWidth + x) * 3];
        p[0] = static_cast<uint8_t>(colour >> 16);
        p[1] = static_cast<uint8_t>(colour >> 8);
        p[2] = static_cast<uint8_t>(colour);
    }
    void box(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, uint32_t colour) {
        for (uint32_t y = y0; y < y1; ++y)
            for (uint32_t x = x0; x < x1; ++x) put(x, y, colour);
    }
};

uint32_t mix(uint32_t a, uint32_t b, double t) {
    t = std::fmin(std::fmax(t, 0.0), 1.0);
    uint32_t out = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
        const double ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        out |= static_cast<uint32_t>(ca + (cb - ca) * t + 0.5) << shift;
    }
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo_scene OUT.png\n");
        return 2;
    }
    Canvas c;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double hill = 360 + 40 * std::sin(x / 90.0) + 25 * std::sin(x / 37.0 + 1);
            const double sun = std::hypot(x - 760.0, y - 120.0);
            uint32_t colour = mix(0x2F6FD0, 0xBFE3FF, y / 360.0);  // sky
            if (sun < 60) colour = 0xFFD84A;
            if (y > hill) colour = mix(0x4CA64C, 0x2E6B2E, (y - hill) / 200.0);
            c.put(x, y, colour);
        }
    c.box(180, 300, 420, 460, 0xE8D9B5);  // the house
    c.box(160, 280, 440, 300, 0x8E3B2E);  // its roof
    c.box(270, 380, 330, 460, 0x6B4226);  // the door
    c.box(200, 330, 250, 370, 0x9FD3F0);  // windows
    c.box(350, 330, 400, 370, 0x9FD3F0);
    c.box(560, 470, 760, 520, 0xFFFFFF);  // a number plate on the lawn
    for (uint32_t i = 0; i < 6; ++i) c.box(575 + 30 * i, 480, 595 + 30 * i, 510, 0x202020);
    std::string error;
    if (!zq::sim::write_rgb_png(argv[1], c.rgb, kWidth, kHeight, &error)) {
        std::fprintf(stderr, "demo_scene: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
