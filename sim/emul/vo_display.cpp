// The picture the panel shows, composed as the display hardware scans it
// out: background, the enabled channels in channel order, the image layer
// on top.
#include "emul/vo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "emul/mem.h"
#include "emul/picture.h"
#include "emul/vi.h"

namespace zq::sim {
namespace {

// The part of [at, at + length) on a line of `side` pixels.
bool clip(int64_t at, uint64_t length, uint32_t side, int64_t *first, int64_t *end) {
    *first = std::max<int64_t>(at, 0);
    *end = std::min<int64_t>(at + static_cast<int64_t>(length), side);
    return *first < *end;
}

void draw_channel(int chn, const VoChannelState &c, VoPicture *out) {
    const VoDrvChnRect &r = c.rect;
    int64_t x0, x1, y0, y1;
    if (!clip(r.s32X, r.u32Width, out->width, &x0, &x1) ||
        !clip(r.s32Y, r.u32Height, out->height, &y0, &y1))
        return;
    std::vector<uint8_t> nv12;
    uint32_t pw = 0, ph = 0;
    int source = vi_channel_bound_to_vo(chn);
    bool picture = source >= 0 && vi_render_latest(source, &nv12, &pw, &ph) && pw > 0 && ph > 0 &&
                   nv12.size() >= size_t{pw} * ph + size_t{pw} * ((ph + 1) / 2);
    bool crop = c.cropSet && c.crop.bEnable;
    for (int64_t y = y0; y < y1; ++y) {
        uint8_t *row = &out->rgb[(static_cast<size_t>(y) * out->width) * 3];
        for (int64_t x = x0; x < x1; ++x) {
            uint8_t *px = row + x * 3;
            if (!picture) {
                std::memset(px, 0, 3);
                continue;
            }
            // Channel coordinates, through the crop window, then the picture's.
            uint64_t cx = static_cast<uint64_t>(x - r.s32X), cy = static_cast<uint64_t>(y - r.s32Y);
            if (crop) {
                cx = static_cast<uint32_t>(c.crop.s32X) + cx * c.crop.u32Width / r.u32Width;
                cy = static_cast<uint32_t>(c.crop.s32Y) + cy * c.crop.u32Height / r.u32Height;
            }
            auto sx = static_cast<uint32_t>(std::min<uint64_t>(cx * pw / r.u32Width, pw - 1));
            auto sy = static_cast<uint32_t>(std::min<uint64_t>(cy * ph / r.u32Height, ph - 1));
            nv12_pixel_rgb(nv12.data(), pw, ph, sx, sy, px);
        }
    }
}

// The image layer's frame buffer lies in the board's memory, rows of
// width pixels; ARGB1555 shows a pixel only with its alpha bit set,
// ARGB8888 blends by its alpha.
void draw_image_layer(const std::string &dir, const VoDrvImageLayer &l, VoPicture *out) {
    int64_t x0, x1, y0, y1;
    if (!clip(l.s32X, l.u32Width, out->width, &x0, &x1) ||
        !clip(l.s32Y, l.u32Height, out->height, &y0, &y1))
        return;
    int memory = ::open((dir + kMemDevice).c_str(), O_RDONLY | O_CLOEXEC);
    if (memory < 0) return;
    const size_t bytes = l.u32Format == 0 ? 2 : 4;
    std::vector<uint8_t> line(static_cast<size_t>(x1 - x0) * bytes);
    for (int64_t y = y0; y < y1; ++y) {
        uint64_t at = l.u32PhyAddr + (static_cast<uint64_t>(y - l.s32Y) * l.u32Width +
                                      static_cast<uint64_t>(x0 - l.s32X)) *
                                         bytes;
        std::fill(line.begin(), line.end(), 0);  // unwritten memory reads as zero
        (void)!::pread(memory, line.data(), line.size(), static_cast<off_t>(at));
        uint8_t *row =
            &out->rgb[(static_cast<size_t>(y) * out->width + static_cast<size_t>(x0)) * 3];
        for (size_t i = 0; i < static_cast<size_t>(x1 - x0); ++i) {
            const uint8_t *p = &line[i * bytes];
            if (bytes == 2) {
                unsigned v = p[0] | p[1] << 8;
                if (!(v & 0x8000)) continue;
                const uint8_t rgb[3] = {static_cast<uint8_t>((v >> 10 & 31) * 255 / 31),
                                        static_cast<uint8_t>((v >> 5 & 31) * 255 / 31),
                                        static_cast<uint8_t>((v & 31) * 255 / 31)};
                std::memcpy(row + i * 3, rgb, 3);
            } else {
                for (int k = 0; k < 3; ++k)  // little-endian 0xAARRGGBB: B, G, R, A
                    row[i * 3 + k] = blend(row[i * 3 + k], p[2 - k], p[3]);
            }
        }
    }
    ::close(memory);
}

}  // namespace

bool compose_vo_display(const std::string &dir, VoPicture *picture, std::string *error) {
    VoDriverState state = read_vo_state(dir);
    if (!state.timingSet) {
        if (error) *error = "the display has no timing set";
        return false;
    }
    picture->width = state.timing.u32LastColumn + 1;
    picture->height = state.timing.u32LastLine + 1;
    picture->rgb.assign(size_t{picture->width} * picture->height * 3, 0);
    const uint32_t bg = state.timing.u32BgColor;
    const uint8_t background[3] = {static_cast<uint8_t>(bg >> 16), static_cast<uint8_t>(bg >> 8),
                                   static_cast<uint8_t>(bg)};
    for (size_t i = 0; i < picture->rgb.size(); i += 3)
        std::memcpy(&picture->rgb[i], background, 3);
    for (int chn = 0; chn < kVoChannels; ++chn)
        if (state.channels[chn].enabled && state.channels[chn].rectSet)
            draw_channel(chn, state.channels[chn], picture);
    if (state.layerEnabled && state.layerSet) draw_image_layer(dir, state.layer, picture);
    return true;
}

}  // namespace zq::sim
