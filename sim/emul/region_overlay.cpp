// How regions are drawn:
// - Overlays first, by handle, then covers on top: a cover masks whatever
//   lies under it, overlays included.
// - An overlay's bitmap is rows of its width at 1, 2 or 4 bits per pixel,
//   the first pixel in the most significant bits of a byte. A pixel's value
//   picks a palette colour 0xAARRGGBB (index modulo 16); alpha 0 leaves the
//   picture alone, 255 covers it, values between blend. Pixels past the
//   loaded bytes are not drawn.
// - A cover is its colour 0x00RRGGBB, opaque (the top byte is ignored).
// - Colours become limited-range BT.601 Y, U and V. The U and V of a 2 x 2
//   block follow its top-left pixel.
//
// The board files are read again only when the state file's stamp changed,
// so a picture of a channel without shown regions costs one stat.
#include "emul/region_overlay.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "emul/board.h"
#include "emul/file_util.h"
#include "emul/picture.h"
#include "emul/rgn.h"

namespace zq::sim {
namespace {

struct Picture {
    uint8_t *luma, *chroma;
    uint32_t width, height;

    void put(uint32_t x, uint32_t y, Yuv c, unsigned alpha) const {
        uint8_t &l = luma[size_t{y} * width + x];
        l = blend(l, c.y, alpha);
        if (!chroma || (x | y) & 1 || x + 1 >= width || y / 2 >= height / 2) return;
        uint8_t *uv = chroma + size_t{y / 2} * width + x;
        uv[0] = blend(uv[0], c.u, alpha);
        uv[1] = blend(uv[1], c.v, alpha);
    }
};

// The part of a region's rectangle inside the picture, in picture pixels.
struct Span {
    uint32_t x0, y0, x1, y1;
};

Span clip(int32_t x, int32_t y, uint32_t width, uint32_t height, const Picture &p) {
    auto clamp = [](int64_t v, uint32_t limit) {
        return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, limit));
    };
    return {clamp(x, p.width), clamp(y, p.height), clamp(int64_t{x} + width, p.width),
            clamp(int64_t{y} + height, p.height)};
}

void draw_overlay(const Picture &p, const RgnOverlay &o, const uint32_t (&palette)[16],
                  const std::vector<uint8_t> &bits) {
    const Span s = clip(o.x, o.y, o.width, o.height, p);
    const unsigned depth = 1u << o.format, mask = (1u << depth) - 1;
    for (uint32_t y = s.y0; y < s.y1; ++y)
        for (uint32_t x = s.x0; x < s.x1; ++x) {
            const auto pixel = static_cast<uint64_t>((int64_t{y} - o.y) * o.width + x - o.x);
            const uint64_t bit = pixel << o.format;
            if (bit / 8 >= bits.size()) continue;
            const unsigned shift = 8 - depth - static_cast<unsigned>(bit % 8);
            const uint32_t colour =
                palette[(bits[static_cast<size_t>(bit / 8)] >> shift) & mask & 15];
            if (unsigned alpha = colour >> 24) p.put(x, y, rgb_to_yuv(colour), alpha);
        }
}

void draw_cover(const Picture &p, const RgnCover &c) {
    const Span s = clip(c.x, c.y, c.width, c.height, p);
    const Yuv colour = rgb_to_yuv(c.color);
    for (uint32_t y = s.y0; y < s.y1; ++y)
        for (uint32_t x = s.x0; x < s.x1; ++x) p.put(x, y, colour, 255);
}

// What was last read from the board files, and the stamp it was read at.
struct OverlayCache {
    std::mutex lock;
    std::string board, node, bitmapDir;
    bool loaded = false;
    struct stat stamp {};
    RgnBoardState state;
    std::vector<std::vector<uint8_t>> bitmaps;
    bool anyShown[kRgnChannels] = {};
};

OverlayCache g_overlays;

// Brings the cache up to the board files; false when there is no driver state.
bool refresh(OverlayCache &c) {
    if (c.board != active_dir()) {
        c.board = active_dir();
        c.node = resolve("/dev/rgn");
        c.bitmapDir = resolve("/dev/rgn.d");
        c.loaded = false;
    }
    struct stat st {};
    if (::stat(c.node.c_str(), &st) != 0) return false;
    if (c.loaded && same_stamp(c.stamp, st)) return true;
    c.loaded = load_rgn_board(c.node, c.bitmapDir, &c.state, &c.bitmaps);
    c.stamp = st;
    for (int ch = 0; ch < kRgnChannels; ++ch) {
        const RgnChannel &rc = c.state.channels[ch];
        c.anyShown[ch] = std::any_of(std::begin(rc.overlays), std::end(rc.overlays),
                                     [](const RgnOverlay &o) { return o.exists && o.shown; }) ||
                         std::any_of(std::begin(rc.covers), std::end(rc.covers),
                                     [](const RgnCover &v) { return v.exists && v.shown; });
    }
    return c.loaded;
}

}  // namespace

void draw_vi_regions(int channel, uint8_t *luma, uint8_t *chroma, uint32_t width, uint32_t height) {
    if (channel < 0 || channel >= kRgnChannels || !luma || !width || !height || !is_active())
        return;
    std::lock_guard<std::mutex> hold(g_overlays.lock);
    if (!refresh(g_overlays) || !g_overlays.anyShown[channel]) return;
    const Picture picture{luma, chroma, width, height};
    const RgnChannel &ch = g_overlays.state.channels[channel];
    for (unsigned h = 0; h < kRgnOverlays; ++h) {
        const RgnOverlay &o = ch.overlays[h];
        if (o.exists && o.shown)
            draw_overlay(picture, o, ch.palette,
                         g_overlays.bitmaps[static_cast<size_t>(channel) * kRgnOverlays + h]);
    }
    for (const RgnCover &c : ch.covers)
        if (c.exists && c.shown) draw_cover(picture, c);
}

}  // namespace zq::sim
