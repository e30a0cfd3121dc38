// Scaling and colour planes of pictures (emul/picture.h).
#include "emul/picture.h"

#include <cstring>

namespace zq::sim {
namespace {

// Where destination sample d of `to` falls between source samples of
// `from`: the left one, the right one and the right one's weight in 1/256.
struct Tap {
    uint32_t near, far, weight;
};

std::vector<Tap> taps(uint32_t from, uint32_t to) {
    std::vector<Tap> out(to);
    for (uint32_t d = 0; d < to; ++d) {
        double at = (d + 0.5) * from / to - 0.5;
        at = std::clamp(at, 0.0, double(from - 1));
        const auto near = static_cast<uint32_t>(at);
        out[d] = {near, std::min(near + 1, from - 1),
                  static_cast<uint32_t>((at - near) * 256 + 0.5)};
    }
    return out;
}

// One plane of sw x sh (rows of sw bytes) into dw x dh samples `step`
// bytes apart, rows `stride` bytes apart.
void scale_plane(const uint8_t *src, uint32_t sw, uint32_t sh, uint8_t *dst, uint32_t dw,
                 uint32_t dh, size_t stride, uint32_t step) {
    const std::vector<Tap> xs = taps(sw, dw), ys = taps(sh, dh);
    for (uint32_t y = 0; y < dh; ++y) {
        const uint8_t *top = src + size_t{ys[y].near} * sw, *bottom = src + size_t{ys[y].far} * sw;
        const uint32_t wy = ys[y].weight;
        uint8_t *row = dst + y * stride;
        for (uint32_t x = 0; x < dw; ++x) {
            const Tap &t = xs[x];
            const uint32_t upper = top[t.near] * (256 - t.weight) + top[t.far] * t.weight;
            const uint32_t lower = bottom[t.near] * (256 - t.weight) + bottom[t.far] * t.weight;
            row[x * step] = static_cast<uint8_t>((upper * (256 - wy) + lower * wy + 32768) >> 16);
        }
    }
}

}  // namespace

void scale_i420_to_nv12(const uint8_t *i420, uint32_t sw, uint32_t sh, uint8_t *nv12, uint32_t dw,
                        uint32_t dh) {
    const uint32_t scw = (sw + 1) / 2, sch = (sh + 1) / 2, dcw = dw / 2, dch = dh / 2;
    const uint8_t *u = i420 + size_t{sw} * sh, *v = u + size_t{scw} * sch;
    uint8_t *uv = nv12 + size_t{dw} * dh;
    if (sw == dw && sh == dh) {
        std::memcpy(nv12, i420, size_t{dw} * dh);
        for (size_t i = 0; i < size_t{dcw} * dch; ++i) {
            uv[2 * i] = u[i];
            uv[2 * i + 1] = v[i];
        }
        return;
    }
    scale_plane(i420, sw, sh, nv12, dw, dh, dw, 1);
    scale_plane(u, scw, sch, uv, dcw, dch, dw, 2);
    scale_plane(v, scw, sch, uv + 1, dcw, dch, dw, 2);
}

void rgb_to_i420(const uint8_t *rgb, uint32_t width, uint32_t height, uint8_t *i420) {
    const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
    uint8_t *u = i420 + size_t{width} * height, *v = u + size_t{cw} * ch;
    auto at = [&](uint32_t x, uint32_t y) {
        const uint8_t *p = rgb + (size_t{y} * width + x) * 3;
        return rgb_to_yuv(uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
    };
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) i420[size_t{y} * width + x] = at(x, y).y;
    for (uint32_t y = 0; y < ch; ++y)
        for (uint32_t x = 0; x < cw; ++x) {
            unsigned su = 0, sv = 0, n = 0;
            for (uint32_t dy = 0; dy < 2 && 2 * y + dy < height; ++dy)
                for (uint32_t dx = 0; dx < 2 && 2 * x + dx < width; ++dx, ++n) {
                    const Yuv p = at(2 * x + dx, 2 * y + dy);
                    su += p.u;
                    sv += p.v;
                }
            u[size_t{y} * cw + x] = static_cast<uint8_t>((su + n / 2) / n);
            v[size_t{y} * cw + x] = static_cast<uint8_t>((sv + n / 2) / n);
        }
}

}  // namespace zq::sim
