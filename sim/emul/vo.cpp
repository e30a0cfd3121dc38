// "/dev/vo": the video output driver. It checks its requests and keeps their
// records (emul/vo.h); every request is journaled under "vo".
#include "emul/vo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"
#include "emul/mem.h"
#include "emul/picture.h"
#include "emul/state_file.h"
#include "emul/vi.h"

namespace zq::sim {
namespace {

// The state file: each record the driver took as the array of its words,
// absent until one is set.
VoDriverState state_of(json_object *root) {
    VoDriverState s{};
    s.timingSet = read_words(json_get(root, "timing"), &s.timing);
    for (size_t i = 0; i < kVoChannels; ++i) {
        json_object *entry = json_at(json_get(root, "channels"), i);
        VoChannelState &c = s.channels[i];
        c.rectSet = read_words(json_get(entry, "rectangle"), &c.rect);
        c.cropSet = read_words(json_get(entry, "crop"), &c.crop);
        c.enabled = json_object_get_boolean(json_get(entry, "enabled"));
    }
    s.layerSet = read_words(json_get(root, "image_layer"), &s.layer);
    s.layerEnabled = json_object_get_boolean(json_get(root, "image_layer_enabled"));
    s.videoLayerSet = read_words(json_get(root, "video_layer"), &s.videoLayer);
    return s;
}

json_object *state_json(const VoDriverState &s) {
    json_object *root = json_object_new_object(), *channels = json_object_new_array();
    if (s.timingSet) json_object_object_add(root, "timing", words_json(s.timing));
    for (const VoChannelState &c : s.channels) {
        json_object *entry = json_object_new_object();
        if (c.rectSet) json_object_object_add(entry, "rectangle", words_json(c.rect));
        if (c.cropSet) json_object_object_add(entry, "crop", words_json(c.crop));
        json_object_object_add(entry, "enabled", json_object_new_boolean(c.enabled));
        json_object_array_add(channels, entry);
    }
    json_object_object_add(root, "channels", channels);
    if (s.layerSet) json_object_object_add(root, "image_layer", words_json(s.layer));
    json_object_object_add(root, "image_layer_enabled", json_object_new_boolean(s.layerEnabled));
    if (s.videoLayerSet) json_object_object_add(root, "video_layer", words_json(s.videoLayer));
    return root;
}

bool good_channel(int32_t chn) {
    return chn >= 0 && chn < kVoChannels;
}

// Checks one request against the driver's rules and applies it to state;
// 0 or the errno of a refusal. Each outcome is journaled.
int apply(unsigned long request, const void *arg, VoDriverState *state) {
    switch (request) {
        case ZQ_VO_SET_PUB_ATTR: {
            auto t = record_of<VoDrvTiming>(arg);
            uint64_t width = uint64_t{t.u32LastColumn} + 1, height = uint64_t{t.u32LastLine} + 1;
            if (width > kVoMaxSide || height > kVoMaxSide) {
                journal("vo", "timing refused: last column %u, last line %u", t.u32LastColumn,
                        t.u32LastLine);
                return EINVAL;
            }
            state->timing = t;
            state->timingSet = 1;
            journal("vo", "timing %llux%llu flags 0x%X background 0x%06X",
                    static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                    t.u32Flags, t.u32BgColor);
            return 0;
        }
        case ZQ_VO_SET_CHN_ATTR: {
            auto r = record_of<VoDrvChnRect>(arg);
            if (!good_channel(r.s32Chn)) break;
            state->channels[r.s32Chn].rect = r;
            state->channels[r.s32Chn].rectSet = 1;
            journal("vo", "channel %d rectangle %d,%d %ux%u", r.s32Chn, r.s32X, r.s32Y, r.u32Width,
                    r.u32Height);
            return 0;
        }
        case ZQ_VO_SET_CHN_CROP: {
            auto c = record_of<VoDrvChnCrop>(arg);
            if (!good_channel(c.s32Chn)) break;
            state->channels[c.s32Chn].crop = c;
            state->channels[c.s32Chn].cropSet = 1;
            if (c.bEnable)
                journal("vo", "channel %d crop %d,%d %ux%u", c.s32Chn, c.s32X, c.s32Y, c.u32Width,
                        c.u32Height);
            else
                journal("vo", "channel %d crop off", c.s32Chn);
            return 0;
        }
        case ZQ_VO_ENABLE_CHN:
        case ZQ_VO_DISABLE_CHN: {
            auto chn = record_of<int32_t>(arg);
            if (!good_channel(chn)) break;
            state->channels[chn].enabled = request == ZQ_VO_ENABLE_CHN;
            journal("vo", "channel %d %s", chn,
                    request == ZQ_VO_ENABLE_CHN ? "enabled" : "disabled");
            return 0;
        }
        case ZQ_VO_SET_IMAGE_LAYER_ATTR: {
            auto l = record_of<VoDrvImageLayer>(arg);
            if (l.u32Format > 1) {
                journal("vo", "image layer format %u refused", l.u32Format);
                return EINVAL;
            }
            state->layer = l;
            state->layerSet = 1;
            journal("vo", "image layer %s at 0x%08X, %d,%d %ux%u, effect 0x%X",
                    l.u32Format == 0 ? "ARGB1555" : "ARGB8888", l.u32PhyAddr, l.s32X, l.s32Y,
                    l.u32Width, l.u32Height, l.u32Effect);
            return 0;
        }
        case ZQ_VO_ENABLE_IMAGE_LAYER:
        case ZQ_VO_DISABLE_IMAGE_LAYER:
            state->layerEnabled = request == ZQ_VO_ENABLE_IMAGE_LAYER;
            journal("vo", "image layer %s", state->layerEnabled ? "enabled" : "disabled");
            return 0;
        case ZQ_VO_SET_VIDEO_LAYER_ATTR:
            state->videoLayer = record_of<VoDrvVideoLayer>(arg);
            state->videoLayerSet = 1;
            journal("vo", "video layer 0x%08X 0x%08X", state->videoLayer.u32Value0,
                    state->videoLayer.u32Value1);
            return 0;
        default:
            journal("vo", "request 0x%08lX unknown", request);
            return ENOTTY;
    }
    journal("vo", "request 0x%08lX refused: no channel %d", request, record_of<int32_t>(arg));
    return EINVAL;
}

int vo_ioctl(int, unsigned long request, void *arg) {
    bool takesRecord = request != ZQ_VO_ENABLE_IMAGE_LAYER && request != ZQ_VO_DISABLE_IMAGE_LAYER;
    if (takesRecord && !arg) {
        journal("vo", "request 0x%08lX refused: no record", request);
        return fail(EFAULT);
    }
    LockedFile file(resolve(kVoDevice), O_RDWR);
    if (!file.is_open()) return -1;
    VoDriverState state = file.load(state_of);
    if (int refusal = apply(request, arg, &state)) return fail(refusal);
    return file.store(state_json(state)) ? 0 : fail(EIO);
}

}  // namespace

extern const Device kVoDeviceEmulator = {kVoDevice, 0, vo_ioctl, refuse_read, refuse_write};

// ---- test-facing ----

VoDriverState read_vo_state(const std::string &dir) {
    return LockedFile(dir + kVoDevice, O_RDONLY).load(state_of);
}

std::string describe_vo(const std::string &dir) {
    VoDriverState s = read_vo_state(dir);
    std::string text;
    if (s.timingSet)
        appendf(&text, "timing %llux%llu flags 0x%X background 0x%06X\n",
                s.timing.u32LastColumn + 1ull, s.timing.u32LastLine + 1ull, s.timing.u32Flags,
                s.timing.u32BgColor);
    else
        appendf(&text, "timing not set\n");
    for (int i = 0; i < kVoChannels; ++i) {
        const VoChannelState &c = s.channels[i];
        appendf(&text, "channel %d %s", i, c.enabled ? "on " : "off");
        if (c.rectSet)
            appendf(&text, " rectangle %d,%d %ux%u", c.rect.s32X, c.rect.s32Y, c.rect.u32Width,
                    c.rect.u32Height);
        if (c.cropSet && c.crop.bEnable)
            appendf(&text, " crop %d,%d %ux%u", c.crop.s32X, c.crop.s32Y, c.crop.u32Width,
                    c.crop.u32Height);
        text += '\n';
    }
    appendf(&text, "image layer %s", s.layerEnabled ? "on " : "off");
    if (s.layerSet)
        appendf(&text, " %s at 0x%08X, %d,%d %ux%u, effect 0x%X",
                s.layer.u32Format == 0 ? "ARGB1555" : "ARGB8888", s.layer.u32PhyAddr, s.layer.s32X,
                s.layer.s32Y, s.layer.u32Width, s.layer.u32Height, s.layer.u32Effect);
    text += '\n';
    if (s.videoLayerSet)
        appendf(&text, "video layer 0x%08X 0x%08X\n", s.videoLayer.u32Value0,
                s.videoLayer.u32Value1);
    return text;
}

// ---- the picture the panel shows, composed as the display hardware scans it
// out: background, the enabled channels in channel order, the image layer
// on top ----

namespace {

void draw_channel(int chn, const VoChannelState &c, VoPicture *out) {
    const VoDrvChnRect &r = c.rect;
    const Span s = clip(r.s32X, r.s32Y, r.u32Width, r.u32Height, out->width, out->height);
    if (s.empty()) return;
    std::vector<uint8_t> nv12;
    uint32_t pw = 0, ph = 0;
    int source = vi_channel_bound_to_vo(chn);
    bool picture = source >= 0 && vi_render_latest(source, &nv12, &pw, &ph) && pw > 0 && ph > 0 &&
                   nv12.size() >= size_t{pw} * ph + size_t{pw} * ((ph + 1) / 2);
    bool crop = c.cropSet && c.crop.bEnable;
    for (uint32_t y = s.y0; y < s.y1; ++y) {
        uint8_t *row = &out->rgb[size_t{y} * out->width * 3];
        for (uint32_t x = s.x0; x < s.x1; ++x) {
            uint8_t *px = row + size_t{x} * 3;
            if (!picture) {
                std::memset(px, 0, 3);
                continue;
            }
            // Channel coordinates, through the crop window, then the picture's.
            auto cx = static_cast<uint64_t>(int64_t{x} - r.s32X);
            auto cy = static_cast<uint64_t>(int64_t{y} - r.s32Y);
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
    const Span s = clip(l.s32X, l.s32Y, l.u32Width, l.u32Height, out->width, out->height);
    if (s.empty()) return;
    int memory = ::open((dir + kMemDevice).c_str(), O_RDONLY | O_CLOEXEC);
    if (memory < 0) return;
    const size_t bytes = l.u32Format == 0 ? 2 : 4;
    std::vector<uint8_t> line(size_t{s.x1 - s.x0} * bytes);
    for (uint32_t y = s.y0; y < s.y1; ++y) {
        uint64_t at = l.u32PhyAddr + (static_cast<uint64_t>(int64_t{y} - l.s32Y) * l.u32Width +
                                      static_cast<uint64_t>(int64_t{s.x0} - l.s32X)) *
                                         bytes;
        std::fill(line.begin(), line.end(), 0);  // unwritten memory reads as zero
        (void)!::pread(memory, line.data(), line.size(), static_cast<off_t>(at));
        uint8_t *row = &out->rgb[(size_t{y} * out->width + s.x0) * 3];
        for (size_t i = 0; i < line.size() / bytes; ++i) {
            const uint8_t *p = &line[i * bytes];
            if (bytes == 2) {
                unsigned v = p[0] | p[1] << 8;
                if (!(v & 0x8000)) continue;
                for (int k = 0; k < 3; ++k)  // 5 bits each of R, G, B
                    row[i * 3 + k] = static_cast<uint8_t>((v >> (10 - 5 * k) & 31) * 255 / 31);
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
    picture->rgb.resize(size_t{picture->width} * picture->height * 3);
    for (size_t i = 0; i < picture->rgb.size(); ++i)  // the background 0x00RRGGBB
        picture->rgb[i] = static_cast<uint8_t>(state.timing.u32BgColor >> (16 - 8 * (i % 3)));
    for (int chn = 0; chn < kVoChannels; ++chn)
        if (state.channels[chn].enabled && state.channels[chn].rectSet)
            draw_channel(chn, state.channels[chn], picture);
    if (state.layerEnabled && state.layerSet) draw_image_layer(dir, state.layer, picture);
    return true;
}

}  // namespace zq::sim
