// "/dev/rgn": the region driver (its state: emul/rgn.h). Each request is
// read-modify-written under the lock of the node file and journaled under "rgn".
//
// Its rules: channels 0..2, overlay handles 0..7, cover handles 0..31
// (EINVAL otherwise); creating a region that exists fails with EEXIST, any
// other request on a region that does not exist with ENOENT; an overlay is
// at most 4096 x 4096 pixels at format 0..2 (EINVAL); a bitmap longer than
// its overlay needs fails with EINVAL, a shorter one is taken (the pixels it
// does not reach are not drawn). New regions are hidden.
#include "emul/rgn.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/file_util.h"
#include "emul/json_util.h"
#include "emul/picture.h"
#include "emul/region_overlay.h"
#include "emul/state_file.h"
#include "zq_rgn.h"

namespace zq::sim {
namespace {

constexpr const char *kRgnNode = "/dev/rgn";
constexpr const char *kRgnBitmapDir = "/dev/rgn.d";

// ---- the state file: per channel its palette, and its overlays and covers
// by handle (null where none exists) ----

const StateField<RgnOverlay> kOverlayFields[] = {
    ZQ_STATE_FIELD(RgnOverlay, "shown", shown),
    ZQ_STATE_FIELD(RgnOverlay, "width", width),
    ZQ_STATE_FIELD(RgnOverlay, "height", height),
    ZQ_STATE_FIELD(RgnOverlay, "format", format),
    ZQ_STATE_FIELD(RgnOverlay, "x", x),
    ZQ_STATE_FIELD(RgnOverlay, "y", y),
    ZQ_STATE_FIELD(RgnOverlay, "color_map", colorMap),
    ZQ_STATE_FIELD(RgnOverlay, "effect", effect),
    ZQ_STATE_FIELD(RgnOverlay, "bitmap_bytes", bitmapBytes),
    ZQ_STATE_FIELD(RgnOverlay, "bitmap_serial", bitmapSerial),
};

const StateField<RgnCover> kCoverFields[] = {
    ZQ_STATE_FIELD(RgnCover, "shown", shown),   ZQ_STATE_FIELD(RgnCover, "width", width),
    ZQ_STATE_FIELD(RgnCover, "height", height), ZQ_STATE_FIELD(RgnCover, "x", x),
    ZQ_STATE_FIELD(RgnCover, "y", y),           ZQ_STATE_FIELD(RgnCover, "color", color),
    ZQ_STATE_FIELD(RgnCover, "effect", effect),
};

template <typename Region, size_t N, size_t F>
void read_regions(json_object *list, Region (&regions)[N], const StateField<Region> (&fields)[F]) {
    for (size_t h = 0; h < N; ++h)
        if (json_object *entry = json_at(list, h)) {
            regions[h].exists = true;
            read_fields(entry, &regions[h], fields);
        }
}

template <typename Region, size_t N, size_t F>
json_object *regions_json(const Region (&regions)[N], const StateField<Region> (&fields)[F]) {
    json_object *list = json_object_new_array();
    for (const Region &r : regions)
        json_object_array_add(list, r.exists ? fields_json(r, fields) : nullptr);
    return list;
}

RgnBoardState state_of(json_object *root) {
    RgnBoardState state;
    for (size_t c = 0; c < kRgnChannels; ++c) {
        json_object *entry = json_at(json_get(root, "channels"), c);
        RgnChannel &ch = state.channels[c];
        read_words(json_get(entry, "palette"), &ch.palette);
        read_regions(json_get(entry, "overlays"), ch.overlays, kOverlayFields);
        read_regions(json_get(entry, "covers"), ch.covers, kCoverFields);
    }
    return state;
}

json_object *state_json(const RgnBoardState &state) {
    json_object *root = json_object_new_object(), *channels = json_object_new_array();
    for (const RgnChannel &ch : state.channels) {
        json_object *entry = json_object_new_object();
        json_object_object_add(entry, "palette", words_json(ch.palette));
        json_object_object_add(entry, "overlays", regions_json(ch.overlays, kOverlayFields));
        json_object_object_add(entry, "covers", regions_json(ch.covers, kCoverFields));
        json_object_array_add(channels, entry);
    }
    json_object_object_add(root, "channels", channels);
    return root;
}

std::string bitmap_file(const std::string &bitmapDir, int channel, unsigned handle) {
    return bitmapDir + "/osd-" + std::to_string(channel) + "-" + std::to_string(handle);
}

// Reads the state and every overlay's bitmap bytes (indexed channel * 8 +
// handle), consistently under the driver's lock.
// nodePath and bitmapDir are host paths of "dev/rgn" and "dev/rgn.d".
bool load_rgn_board(const std::string &nodePath, const std::string &bitmapDir, RgnBoardState *state,
                    std::vector<std::vector<uint8_t>> *bitmaps) {
    LockedFile file(nodePath, O_RDONLY);
    if (!file.is_open()) return false;
    *state = file.load(state_of);
    bitmaps->assign(kRgnChannels * kRgnOverlays, {});
    for (int c = 0; c < kRgnChannels; ++c)
        for (unsigned h = 0; h < kRgnOverlays; ++h) {
            const RgnOverlay &o = state->channels[c].overlays[h];
            if (!o.exists || !o.bitmapBytes) continue;
            std::string bytes = read_file(bitmap_file(bitmapDir, c, h));
            bytes.resize(std::min<size_t>(bytes.size(), o.bitmapBytes));
            (*bitmaps)[static_cast<size_t>(c) * kRgnOverlays + h].assign(bytes.begin(),
                                                                         bytes.end());
        }
    return true;
}

// ---- requests ----

struct Request {
    RgnBoardState &state;
    const void *arg;
    std::string bitmapDir;
    int error = 0;  // the errno of a refusal
};

// The overlay or cover a request names, or null (journaled, the errno in
// r.error) when the channel or handle is out of range, or when the
// region's existence is not what the request wants.
template <typename Region, size_t N, typename Record>
Region *region_of(Request &r, Region (RgnChannel::*list)[N], const Record &q, const char *what,
                  bool wantExisting) {
    const int32_t channel = q.s32ViChn;
    const uint32_t handle = q.u32Handle;
    if (channel < 0 || channel >= kRgnChannels || handle >= N) {
        journal("rgn", "%s chn %d handle %u refused: out of range", what, channel, handle);
        r.error = EINVAL;
        return nullptr;
    }
    Region *region = &(r.state.channels[channel].*list)[handle];
    if (region->exists != wantExisting) {
        journal("rgn", "%s chn %d handle %u refused: %s", what, channel, handle,
                wantExisting ? "no such region" : "exists");
        r.error = wantExisting ? ENOENT : EEXIST;
        return nullptr;
    }
    return region;
}

int osd_create(Request &r) {
    auto q = record_of<RgnOsdCreateReq>(r.arg);
    RgnOverlay *o = region_of(r, &RgnChannel::overlays, q, "osd create", false);
    if (!o) return r.error;
    if (q.u32Width > ZQ_RGN_MAX_BITMAP_SIDE || q.u32Height > ZQ_RGN_MAX_BITMAP_SIDE ||
        q.u32Format > ZQ_RGN_FORMAT_4BPP) {
        journal("rgn", "osd create chn %d handle %u refused: %ux%u format %u", q.s32ViChn,
                q.u32Handle, q.u32Width, q.u32Height, q.u32Format);
        return EINVAL;
    }
    *o = RgnOverlay{true, false, q.u32Width, q.u32Height, q.u32Format};
    ::unlink(bitmap_file(r.bitmapDir, q.s32ViChn, q.u32Handle).c_str());
    journal("rgn", "osd create chn %d handle %u %ux%u format %u", q.s32ViChn, q.u32Handle,
            q.u32Width, q.u32Height, q.u32Format);
    return 0;
}

int osd_destroy(Request &r) {
    auto q = record_of<RgnOsdCreateReq>(r.arg);
    RgnOverlay *o = region_of(r, &RgnChannel::overlays, q, "osd destroy", true);
    if (!o) return r.error;
    *o = RgnOverlay{};
    ::unlink(bitmap_file(r.bitmapDir, q.s32ViChn, q.u32Handle).c_str());
    journal("rgn", "osd destroy chn %d handle %u", q.s32ViChn, q.u32Handle);
    return 0;
}

int osd_set_attr(Request &r) {
    auto q = record_of<RgnOsdAttrReq>(r.arg);
    RgnOverlay *o = region_of(r, &RgnChannel::overlays, q, "osd attr", true);
    if (!o) return r.error;
    o->x = q.s32X;
    o->y = q.s32Y;
    o->colorMap = q.u32ColorMap;
    o->effect = q.u32Effect;
    journal("rgn", "osd attr chn %d handle %u at %d,%d color map 0x%X effect 0x%X", q.s32ViChn,
            q.u32Handle, q.s32X, q.s32Y, q.u32ColorMap, q.u32Effect);
    return 0;
}

int osd_set_bitmap(Request &r) {
    auto q = record_of<RgnOsdBitmapReq>(r.arg);
    RgnOverlay *o = region_of(r, &RgnChannel::overlays, q, "osd bitmap", true);
    if (!o) return r.error;
    const uint64_t needed = ((uint64_t{o->width} * o->height << o->format) + 7) >> 3;
    if (q.u32Length > needed || (!q.pData && q.u32Length)) {
        journal("rgn", "osd bitmap chn %d handle %u refused: %u bytes for %" PRIu64, q.s32ViChn,
                q.u32Handle, q.u32Length, needed);
        return q.pData ? EINVAL : EFAULT;
    }
    ::mkdir(r.bitmapDir.c_str(), 0755);
    if (!write_file_whole(bitmap_file(r.bitmapDir, q.s32ViChn, q.u32Handle),
                          std::string_view(static_cast<const char *>(q.pData), q.u32Length), 0644,
                          nullptr))
        return EIO;
    o->bitmapBytes = q.u32Length;
    ++o->bitmapSerial;
    journal("rgn", "osd bitmap chn %d handle %u %u bytes", q.s32ViChn, q.u32Handle, q.u32Length);
    return 0;
}

template <typename Region, size_t N>
int show(Request &r, Region (RgnChannel::*list)[N], const char *what) {
    auto q = record_of<RgnShowReq>(r.arg);
    Region *region = region_of(r, list, q, what, true);
    if (!region) return r.error;
    region->shown = q.bShow != 0;
    journal("rgn", "%s chn %d handle %u %s", what, q.s32ViChn, q.u32Handle,
            region->shown ? "shown" : "hidden");
    return 0;
}

int cover_set(Request &r, const char *what, bool create) {
    auto q = record_of<RgnCoverReq>(r.arg);
    RgnCover *c = region_of(r, &RgnChannel::covers, q, what, !create);
    if (!c) return r.error;
    *c = RgnCover{true,   !create && c->shown, q.u32Width, q.u32Height, q.s32X,
                  q.s32Y, q.u32Color,          q.u32Effect};
    journal("rgn", "%s chn %d handle %u %ux%u at %d,%d color 0x%06X effect 0x%X", what, q.s32ViChn,
            q.u32Handle, q.u32Width, q.u32Height, q.s32X, q.s32Y, q.u32Color, q.u32Effect);
    return 0;
}

int cover_destroy(Request &r) {
    auto q = record_of<RgnCoverReq>(r.arg);
    RgnCover *c = region_of(r, &RgnChannel::covers, q, "cover destroy", true);
    if (!c) return r.error;
    *c = RgnCover{};
    journal("rgn", "cover destroy chn %d handle %u", q.s32ViChn, q.u32Handle);
    return 0;
}

int set_pallet(Request &r) {
    auto q = record_of<RgnPalletReq>(r.arg);
    if (q.s32ViChn < 0 || q.s32ViChn >= kRgnChannels) {
        journal("rgn", "palette chn %d refused: out of range", q.s32ViChn);
        return EINVAL;
    }
    std::memcpy(r.state.channels[q.s32ViChn].palette, q.au32Color, sizeof q.au32Color);
    journal("rgn", "palette chn %d", q.s32ViChn);
    return 0;
}

struct Handler {
    unsigned long code;
    int (*run)(Request &r);
};

constexpr Handler kHandlers[] = {
    {ZQ_RGN_REQ_OSD_CREATE, osd_create},
    {ZQ_RGN_REQ_OSD_DESTROY, osd_destroy},
    {ZQ_RGN_REQ_OSD_SET_ATTR, osd_set_attr},
    {ZQ_RGN_REQ_OSD_SET_BITMAP, osd_set_bitmap},
    {ZQ_RGN_REQ_OSD_SHOW, [](Request &r) { return show(r, &RgnChannel::overlays, "osd show"); }},
    {ZQ_RGN_REQ_COVER_CREATE, [](Request &r) { return cover_set(r, "cover create", true); }},
    {ZQ_RGN_REQ_COVER_DESTROY, cover_destroy},
    {ZQ_RGN_REQ_COVER_SET_ATTR, [](Request &r) { return cover_set(r, "cover attr", false); }},
    {ZQ_RGN_REQ_COVER_SHOW, [](Request &r) { return show(r, &RgnChannel::covers, "cover show"); }},
    {ZQ_RGN_REQ_SET_PALLET, set_pallet},
};

std::atomic<RgnRequestTap> g_requestTap{nullptr};

int rgn_ioctl(int, unsigned long code, void *arg) {
    if (RgnRequestTap tap = g_requestTap.load()) tap(code, arg, arg ? _IOC_SIZE(code) : 0);
    if (code == ZQ_RGN_REQ_INIT) {
        journal("rgn", "init");
        return 0;
    }
    const Handler *handler = nullptr;
    for (const Handler &h : kHandlers)
        if (h.code == code) handler = &h;
    if (!handler) {
        journal("rgn", "request 0x%08lX unknown", code);
        return fail(ENOTTY);
    }
    if (!arg) return fail(EFAULT);
    LockedFile file(resolve(kRgnNode), O_RDWR);
    if (!file.is_open()) return -1;
    RgnBoardState state = file.load(state_of);
    Request request{state, arg, resolve(kRgnBitmapDir)};
    if (int error = handler->run(request)) return fail(error);
    return file.store(state_json(state)) ? 0 : fail(EIO);
}

}  // namespace

extern const Device kRgnDevice = {kRgnNode, 0, rgn_ioctl, refuse_read, refuse_write};

void set_rgn_request_tap(RgnRequestTap tap) {
    g_requestTap.store(tap);
}

// ---- test-facing ----

RgnBoardState read_regions(const std::string &dir) {
    return LockedFile(dir + kRgnNode, O_RDONLY).load(state_of);
}

std::vector<uint8_t> read_region_bitmap(const std::string &dir, int channel, unsigned handle) {
    RgnBoardState state;
    std::vector<std::vector<uint8_t>> bitmaps;
    if (channel < 0 || channel >= kRgnChannels || handle >= kRgnOverlays ||
        !load_rgn_board(dir + kRgnNode, dir + kRgnBitmapDir, &state, &bitmaps))
        return {};
    return bitmaps[static_cast<size_t>(channel) * kRgnOverlays + handle];
}

std::string regions_text(const RgnBoardState &state) {
    std::string text;
    for (int c = 0; c < kRgnChannels; ++c) {
        const RgnChannel &ch = state.channels[c];
        if (std::any_of(std::begin(ch.palette), std::end(ch.palette),
                        [](uint32_t v) { return v; })) {
            appendf(&text, "palette %d:", c);
            for (uint32_t colour : ch.palette) appendf(&text, " %08X", colour);
            text += '\n';
        }
        for (unsigned h = 0; h < kRgnOverlays; ++h) {
            const RgnOverlay &o = ch.overlays[h];
            if (o.exists)
                appendf(&text,
                        "osd %d/%u %ux%u format %u at %d,%d color map 0x%X effect 0x%X %s, "
                        "bitmap %u bytes\n",
                        c, h, o.width, o.height, o.format, o.x, o.y, o.colorMap, o.effect,
                        o.shown ? "shown" : "hidden", o.bitmapBytes);
        }
        for (unsigned h = 0; h < kRgnCovers; ++h) {
            const RgnCover &v = ch.covers[h];
            if (v.exists)
                appendf(&text, "cover %d/%u %ux%u at %d,%d color 0x%06X effect 0x%X %s\n", c, h,
                        v.width, v.height, v.x, v.y, v.color, v.effect,
                        v.shown ? "shown" : "hidden");
        }
    }
    return text.empty() ? "no regions\n" : text;
}

// ---- the regions on the video input side (emul/region_overlay.h) ----
//
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

void draw_overlay(const Picture &p, const RgnOverlay &o, const uint32_t (&palette)[16],
                  const std::vector<uint8_t> &bits) {
    const Span s = clip(o.x, o.y, o.width, o.height, p.width, p.height);
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
    const Span s = clip(c.x, c.y, c.width, c.height, p.width, p.height);
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
        c.node = resolve(kRgnNode);
        c.bitmapDir = resolve(kRgnBitmapDir);
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
