// "/dev/vo": the video output driver. It checks its requests and keeps their
// records (emul/vo.h); every request is journaled under "vo".
#include "emul/vo.h"

#include <cerrno>
#include <cstring>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"
#include "emul/state_file.h"

namespace zq::sim {
namespace {

// The state file: each record the driver took as the array of its words,
// absent until one is set.
VoDriverState state_of(json_object *root) {
    VoDriverState s;
    std::memset(&s, 0, sizeof s);
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

}  // namespace zq::sim
