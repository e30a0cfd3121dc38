// "/dev/vi": the video input driver, its state file, buffer addresses and
// pictures (emul/vi.h). Channels 0-5 take sizes, a capture rectangle
// (channel 0), frame rates with a keep mask, bindings, and are enabled and
// disabled. An enabled channel captures source frames on the board clock at
// its source rate, numbered from 0 at the enable, and keeps those its mask
// names. A get hands out the newest kept frame this process has not had
// yet, or waits for the next one; its picture is written into one of the
// channel's four buffers in physical memory ("dev/mem"), which stays the
// process's until released. Every request is journaled under "vi".
#include "emul/vi.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/file_util.h"
#include "emul/json_util.h"
#include "emul/picture.h"
#include "emul/region_overlay.h"
#include "emul/state_file.h"
#include "emul/y4m.h"
#include "zq_vi.h"

namespace zq::sim {
namespace {

constexpr int64_t kSecondNs = 1'000'000'000;
constexpr uint64_t kPage = 4096;

// Colour bars, left to right: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Yuv kBars[] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                         {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
constexpr uint32_t kBarCount = std::size(kBars);

const StateField<ViChannel> kFields[] = {
    ZQ_STATE_FIELD(ViChannel, "enabled", enabled),
    ZQ_STATE_FIELD(ViChannel, "width", width),
    ZQ_STATE_FIELD(ViChannel, "height", height),
    ZQ_STATE_FIELD(ViChannel, "cap_x", capX),
    ZQ_STATE_FIELD(ViChannel, "cap_y", capY),
    ZQ_STATE_FIELD(ViChannel, "cap_width", capWidth),
    ZQ_STATE_FIELD(ViChannel, "cap_height", capHeight),
    ZQ_STATE_FIELD(ViChannel, "src_rate", srcRate),
    ZQ_STATE_FIELD(ViChannel, "keep_mask", keepMask),
    ZQ_STATE_FIELD(ViChannel, "bind_kind", bindKind),
    ZQ_STATE_FIELD(ViChannel, "bind_chn", bindChn),
    ZQ_STATE_FIELD(ViChannel, "anchor_ns", anchorNs),
    ZQ_STATE_FIELD(ViChannel, "anchor_frame", anchorFrame),
};

// board.json "vi": the sensor's (and so the largest frame's) size, the
// physical address of the driver's frame buffers, and what stands before
// each channel's sensor ("sources": "" for the colour bars, else a
// YUV4MPEG2 file, its path absolute or inside the board directory).
struct ViSettings {
    uint32_t maxWidth = 1920, maxHeight = 1080;
    uint64_t bufferBase = 0xA0000000;
    std::array<std::string, kViChannels> sources;
    // Bytes from one buffer to the next: the largest NV12 frame, in whole pages.
    uint64_t stride() const {
        uint64_t bytes = uint64_t{maxWidth} * maxHeight * 3 / 2;
        return (bytes + kPage - 1) / kPage * kPage;
    }
    uint64_t buffer_address(int channel, uint32_t buffer) const {
        return bufferBase + (static_cast<uint64_t>(channel) * kViBuffers + buffer) * stride();
    }
};

ViSettings vi_settings(json_object *board) {
    json_object *vi = json_get(board, "vi");
    ViSettings s;
    s.maxWidth = static_cast<uint32_t>(json_number(vi, "max_width", s.maxWidth));
    s.maxHeight = static_cast<uint32_t>(json_number(vi, "max_height", s.maxHeight));
    s.bufferBase = json_number(vi, "buffer_base", s.bufferBase);
    json_object *sources = json_get(vi, "sources");
    for (size_t c = 0; c < s.sources.size(); ++c)
        if (json_object *source = json_at(sources, c);
            json_object_is_type(source, json_type_string))
            s.sources[c] = json_object_get_string(source);
    return s;
}

ViSettings settings_of_board(const std::string &dir) {
    json_object *board = json_load_file(dir + "/" + kBoardFile, nullptr);
    ViSettings settings = vi_settings(board);
    json_object_put(board);
    return settings;
}

ViSettings active_vi_settings() {
    return cached_board_json<vi_settings>();
}

// The channels at power-on (and after a reset) for these settings.
ViChannels vi_power_on(const ViSettings &settings) {
    ViChannels channels;
    // The main channel captures the whole sensor; the extended ones are small
    // copies of it until sized.
    for (ViChannel &ch : channels) {
        ch.width = 640;
        ch.height = 360;
    }
    channels[0].width = channels[0].capWidth = settings.maxWidth;
    channels[0].height = channels[0].capHeight = settings.maxHeight;
    return channels;
}

// Source frames: whether frame n is kept, when it is captured, and the
// newest kept frame captured by board time nowNs (-1: none yet).
bool vi_frame_kept(const ViChannel &ch, uint64_t n) {
    if (n < ch.anchorFrame || ch.srcRate == 0) return false;
    return (ch.keepMask >> ((n - ch.anchorFrame) % ch.srcRate)) & 1u;
}

int64_t vi_capture_ns(const ViChannel &ch, uint64_t n) {
    // Rounded up, so that frame n counts as captured from this instant on.
    auto since = static_cast<int64_t>(n - ch.anchorFrame);
    auto rate = static_cast<int64_t>(ch.srcRate);
    return ch.anchorNs + (since * kSecondNs + rate - 1) / rate;
}

int64_t vi_latest_kept(const ViChannel &ch, int64_t nowNs) {
    if (!ch.enabled || ch.keepMask == 0 || nowNs < ch.anchorNs) return -1;
    auto produced =
        ch.anchorFrame +
        static_cast<uint64_t>((nowNs - ch.anchorNs) * static_cast<int64_t>(ch.srcRate) / kSecondNs);
    for (uint64_t n = produced + 1; n-- > ch.anchorFrame && produced - n < ch.srcRate;)
        if (vi_frame_kept(ch, n)) return static_cast<int64_t>(n);
    return -1;
}

// What a channel's picture source gives this process: the file opened (as
// it was when opened) and the last frame it gave, scaled to the channel.
struct SourceView {
    std::string path;
    struct stat opened {};
    std::unique_ptr<Y4mReader> reader;
    std::vector<uint8_t> planes, scaled;
    int64_t shown = -1;  // the file's frame in `scaled`
    uint32_t width = 0, height = 0;
    bool gone = false;  // the journal has said so
};

std::mutex g_sourceLock;
SourceView g_sources[kViChannels];

// Draws sensor frame `frame` of the channel's picture source, scaled, into
// nv12: the file's frame `frame` modulo its length, so a video plays one
// frame per sensor frame and loops. False (the channel then shows the
// colour bars) for no source, or one that is gone or unreadable; the
// journal says so once.
bool draw_source(int channel, const std::string &source, uint64_t frame, uint32_t width,
                 uint32_t height, uint8_t *nv12) {
    if (source.empty()) return false;
    const std::string path = source[0] == '/' ? source : active_dir() + "/" + source;
    std::lock_guard<std::mutex> hold(g_sourceLock);
    SourceView &view = g_sources[channel];
    struct stat now {};
    const bool there = ::stat(path.c_str(), &now) == 0;
    std::string error = path + ": gone";
    if (path != view.path || !there || !view.reader || !same_stamp(now, view.opened)) {
        if (path != view.path) view.gone = false;
        view.path = path;
        view.opened = now;
        view.shown = -1;
        view.reader = std::make_unique<Y4mReader>();
        if (!there || !view.reader->open(path, &error)) view.reader.reset();
    }
    const size_t index = view.reader ? static_cast<size_t>(frame % view.reader->frames()) : 0;
    if (view.reader && (view.shown != static_cast<int64_t>(index) || view.width != width ||
                        view.height != height)) {
        view.planes.resize(i420_size(view.reader->width(), view.reader->height()));
        view.scaled.resize(size_t{width} * height * 3 / 2);
        if (view.reader->read_frame(index, view.planes.data())) {
            scale_i420_to_nv12(view.planes.data(), view.reader->width(), view.reader->height(),
                               view.scaled.data(), width, height);
            view.shown = static_cast<int64_t>(index);
            view.width = width;
            view.height = height;
        } else {
            error = path + ": frame " + std::to_string(index) + " cannot be read";
            view.reader.reset();
        }
    }
    if (!view.reader) {
        if (!view.gone) journal("vi", "chn %d picture %s: colour bars", channel, error.c_str());
        view.gone = true;
        return false;
    }
    view.gone = false;
    std::memcpy(nv12, view.scaled.data(), view.scaled.size());
    return true;
}

void draw_bars(uint32_t width, uint32_t height, uint8_t *nv12) {
    uint8_t *luma = nv12;
    uint8_t *chroma = nv12 + size_t{width} * height;
    for (uint32_t x = 0; x < width; ++x) luma[x] = kBars[x * kBarCount / width].y;
    for (uint32_t row = 1; row < height; ++row)
        std::memcpy(luma + size_t{row} * width, luma, width);
    for (uint32_t x = 0; x + 1 < width; x += 2) {
        const Yuv &bar = kBars[x * kBarCount / width];
        chroma[x] = bar.u;
        chroma[x + 1] = bar.v;
    }
    for (uint32_t row = 1; row < height / 2; ++row)
        std::memcpy(chroma + size_t{row} * width, chroma, width);
}

// Draws the picture of source frame `frame` of a channel into nv12: its
// picture source or the colour bars, the frame number in the first luma row
// (see vi_frame_number) and the channel's regions (channels 0-2).
void vi_render_frame(int channel, const std::string &source, uint64_t frame, uint32_t width,
                     uint32_t height, uint8_t *nv12) {
    if (!draw_source(channel, source, frame, width, height, nv12)) draw_bars(width, height, nv12);
    uint8_t *luma = nv12;
    uint8_t *chroma = nv12 + size_t{width} * height;
    for (uint32_t bit = 0; bit < 32 && 8 * bit < width; ++bit) {
        bool one = (frame >> (31 - bit)) & 1u;
        uint32_t end = std::min(width, 8 * bit + 8);
        std::memset(luma + 8 * bit, static_cast<int>(one ? kViLumaHigh : kViLumaLow),
                    end - 8 * bit);
    }
    if (channel >= 0 && channel <= 2) draw_vi_regions(channel, luma, chroma, width, height);
}

// The channels a state file holds (power-on values for what it does not
// say), and the state file's contents for channels.
ViChannels vi_channels_of(json_object *root, const ViSettings &settings) {
    ViChannels channels = vi_power_on(settings);
    for (size_t c = 0; c < channels.size(); ++c)
        read_fields(json_at(json_get(root, "channels"), c), &channels[c], kFields);
    return channels;
}

json_object *vi_channels_json(const ViChannels &channels) {
    json_object *root = json_object_new_object(), *list = json_object_new_array();
    for (const ViChannel &ch : channels) json_object_array_add(list, fields_json(ch, kFields));
    json_object_object_add(root, "channels", list);
    return root;
}

// What this process holds: the frames handed out and not yet released, and
// the last frame it got of each channel (since that channel's enable).
struct Held {
    bool held = false;
    uint64_t frame = 0;
    uint32_t width = 0, height = 0;
};

struct Taken {
    int64_t anchorNs = -1;  // the enable it belongs to
    uint64_t anchorFrame = 0;
    int64_t last = -1;
    Held buffers[kViBuffers];
};

struct ViDriver {
    std::mutex lock;
    Taken taken[kViChannels];
    std::vector<uint8_t> picture;  // scratch for the next frame's pixels
};

ViDriver g_vi;
RequestLog g_requests;

bool channel_ok(int32_t chn) {
    return chn >= 0 && chn < kViChannels;
}

// One request that changes channel state: load, change, store, under the
// node's lock; a request that is not ok is refused (EINVAL) unchanged.
template <typename Change>
int change_state(bool ok, Change change) {
    LockedFile file(resolve(kViDevice), O_RDWR);
    if (!file.is_open()) return -1;
    if (!ok) return fail(EINVAL);
    ViChannels channels = file.load(vi_channels_of, active_vi_settings());
    change(channels);
    return file.store(vi_channels_json(channels)) ? 0 : fail(EIO);
}

int reset() {
    {
        std::lock_guard<std::mutex> hold(g_vi.lock);
        for (Taken &t : g_vi.taken) t = Taken{};
    }
    journal("vi", "reset");
    return change_state(true,
                        [](ViChannels &channels) { channels = vi_power_on(active_vi_settings()); });
}

int set_cap_rect(void *arg) {
    auto r = record_of<ViRect>(arg);
    ViSettings s = active_vi_settings();
    bool fits = r.s32X >= 0 && r.s32Y >= 0 && r.u32Width > 0 && r.u32Height > 0 &&
                uint64_t(uint32_t(r.s32X)) + r.u32Width <= s.maxWidth &&
                uint64_t(uint32_t(r.s32Y)) + r.u32Height <= s.maxHeight;
    journal("vi", "capture rectangle %d,%d %ux%u%s", r.s32X, r.s32Y, r.u32Width, r.u32Height,
            fits ? "" : " refused: outside the sensor");
    return change_state(fits, [&](ViChannels &channels) {
        channels[0].capX = r.s32X;
        channels[0].capY = r.s32Y;
        channels[0].capWidth = r.u32Width;
        channels[0].capHeight = r.u32Height;
    });
}

int set_size(void *arg) {
    auto r = record_of<ViDrvSize>(arg);
    ViSettings s = active_vi_settings();
    bool ok = channel_ok(r.s32Chn) && r.u32Width >= 2 && r.u32Height >= 2 && r.u32Width % 2 == 0 &&
              r.u32Height % 2 == 0 && r.u32Width <= s.maxWidth && r.u32Height <= s.maxHeight;
    journal("vi", "chn %d size %ux%u%s", r.s32Chn, r.u32Width, r.u32Height,
            ok ? "" : " refused: no such channel, or not an even size from 2x2 to the sensor's");
    return change_state(ok, [&](ViChannels &channels) {
        channels[size_t(r.s32Chn)].width = r.u32Width;
        channels[size_t(r.s32Chn)].height = r.u32Height;
    });
}

int set_enabled(void *arg, bool enable) {
    auto r = record_of<ViDrvChn>(arg);
    journal("vi", "chn %d %s%s", r.s32Chn, enable ? "enable" : "disable",
            channel_ok(r.s32Chn) ? "" : " refused: no such channel");
    return change_state(channel_ok(r.s32Chn), [&](ViChannels &channels) {
        ViChannel &ch = channels[size_t(r.s32Chn)];
        if (enable && !ch.enabled) {  // capture starts over at frame 0
            ch.anchorNs = board_monotonic_ns();
            ch.anchorFrame = 0;
        }
        ch.enabled = enable;
    });
}

int set_rate(void *arg) {
    auto r = record_of<ViDrvFrmRate>(arg);
    uint32_t src = r.u32SrcFrmRateMinus1 + 1;
    bool ok =
        channel_ok(r.s32Chn) && r.u32SrcFrmRateMinus1 < kViMaxRate && (r.u32KeepMask >> src) == 0;
    journal("vi", "chn %d source %u fps keep 0x%08X%s", r.s32Chn, src, r.u32KeepMask,
            ok ? "" : " refused: no such channel, rate or mask");
    return change_state(ok, [&](ViChannels &channels) {
        ViChannel &ch = channels[size_t(r.s32Chn)];
        if (ch.enabled) {  // frames go on from where they are, at the new rate
            int64_t now = board_monotonic_ns();
            ch.anchorFrame +=
                static_cast<uint64_t>((now - ch.anchorNs) * ch.srcRate / 1'000'000'000) + 1;
            ch.anchorNs = now;
        }
        ch.srcRate = src;
        ch.keepMask = r.u32KeepMask;
    });
}

int bind(void *arg) {
    auto r = record_of<ViDrvBind>(arg);
    bool ok = channel_ok(r.s32Chn) &&
              (r.s32DestKind == ZQ_VI_BIND_TO_OTHER || r.s32DestKind == ZQ_VI_BIND_TO_VO);
    journal("vi", "chn %d bind kind %d chn %d%s", r.s32Chn, r.s32DestKind, r.s32DestChn,
            ok ? "" : " refused: no such channel or kind");
    return change_state(ok, [&](ViChannels &channels) {
        channels[size_t(r.s32Chn)].bindKind = r.s32DestKind;
        channels[size_t(r.s32Chn)].bindChn = r.s32DestChn;
    });
}

bool write_picture(int chn, const std::string &source, uint64_t n, uint32_t width, uint32_t height,
                   uint64_t phys) {
    std::vector<uint8_t> &picture = g_vi.picture;
    picture.resize(size_t{width} * height * 3 / 2);
    vi_render_frame(chn, source, n, width, height, picture.data());
    int mem = ::open(resolve("/dev/mem").c_str(), O_WRONLY | O_CLOEXEC);
    if (mem < 0) return false;
    bool ok = write_at(mem, picture.data(), picture.size(), phys);
    ::close(mem);
    return ok;
}

int refuse_get(int32_t chn, const char *why, int error) {
    journal("vi", "chn %d get refused: %s", chn, why);
    return fail(error);
}

// The frame to hand out now: the newest kept one after `last`, or -1 and
// the board time at which the next kept one is captured.
int64_t next_frame(const ViChannel &ch, int64_t last, int64_t now, int64_t *waitUntil) {
    int64_t newest = vi_latest_kept(ch, now);
    if (newest > last) return newest;
    uint64_t n = static_cast<uint64_t>(std::max(newest, last) + 1);
    if (n < ch.anchorFrame) n = ch.anchorFrame;
    while (!vi_frame_kept(ch, n)) ++n;  // the mask keeps one frame a second at least
    *waitUntil = vi_capture_ns(ch, n);
    return -1;
}

int get_frame(void *arg) {
    auto r = record_of<ViDrvFrame>(arg);
    if (!channel_ok(r.s32Chn)) return refuse_get(r.s32Chn, "no such channel", EINVAL);
    const ViSettings settings = active_vi_settings();
    if (settings.buffer_address(kViChannels, 0) > (uint64_t{1} << 32))
        return refuse_get(r.s32Chn, "buffers beyond the address space", EIO);
    for (;;) {
        ViChannel ch;
        {
            LockedFile file(resolve(kViDevice), O_RDWR);
            if (!file.is_open()) return -1;
            ch = file.load(vi_channels_of, settings)[size_t(r.s32Chn)];
        }
        if (!ch.enabled) return refuse_get(r.s32Chn, "not enabled", EINVAL);
        if (ch.keepMask == 0) return refuse_get(r.s32Chn, "keeps no frames", EAGAIN);
        std::unique_lock<std::mutex> hold(g_vi.lock);
        Taken &taken = g_vi.taken[r.s32Chn];
        if (taken.anchorNs != ch.anchorNs || taken.anchorFrame != ch.anchorFrame) {
            taken.anchorNs = ch.anchorNs;  // a new enable or rate: any frame is new
            taken.anchorFrame = ch.anchorFrame;
            taken.last = -1;
        }
        uint32_t buffer = 0;
        while (buffer < kViBuffers && taken.buffers[buffer].held) ++buffer;
        if (buffer == kViBuffers) return refuse_get(r.s32Chn, "every buffer is held", ENOBUFS);
        int64_t now = board_monotonic_ns(), waitUntil = now;
        int64_t n = next_frame(ch, taken.last, now, &waitUntil);
        if (n < 0) {
            hold.unlock();
            sleep_until(waitUntil);
            continue;  // the channel may have changed meanwhile
        }
        uint64_t phys = settings.buffer_address(r.s32Chn, buffer);
        uint64_t uv = phys + uint64_t{ch.width} * ch.height;
        if (!write_picture(r.s32Chn, settings.sources[size_t(r.s32Chn)], static_cast<uint64_t>(n),
                           ch.width, ch.height, phys))
            return refuse_get(r.s32Chn, "physical memory cannot be written", EIO);
        taken.last = n;
        taken.buffers[buffer] = Held{true, static_cast<uint64_t>(n), ch.width, ch.height};
        r.u32BufferId = buffer;
        r.u32PhyAddrY = static_cast<uint32_t>(phys);
        r.u32PhyAddrUV = static_cast<uint32_t>(uv);
        r.u32Width = ch.width;
        r.u32Height = ch.height;
        r.u64Pts = static_cast<uint64_t>(vi_capture_ns(ch, static_cast<uint64_t>(n)) / 1000);
        std::memcpy(arg, &r, sizeof r);
        journal("vi", "chn %d frame %lld in buffer %u at 0x%08X", r.s32Chn,
                static_cast<long long>(n), buffer, r.u32PhyAddrY);
        return 0;
    }
}

int release_frame(void *arg) {
    auto r = record_of<ViDrvFrame>(arg);
    const ViSettings settings = active_vi_settings();
    std::lock_guard<std::mutex> hold(g_vi.lock);
    Held *h = channel_ok(r.s32Chn) && r.u32BufferId < kViBuffers
                  ? &g_vi.taken[r.s32Chn].buffers[r.u32BufferId]
                  : nullptr;
    uint64_t phys = h ? settings.buffer_address(r.s32Chn, r.u32BufferId) : 0;
    if (h && h->held && r.u32PhyAddrY == phys &&
        r.u32PhyAddrUV == phys + uint64_t{h->width} * h->height && r.u32Width == h->width &&
        r.u32Height == h->height) {
        h->held = false;
        journal("vi", "chn %d frame %llu released from buffer %u", r.s32Chn,
                static_cast<unsigned long long>(h->frame), r.u32BufferId);
        return 0;
    }
    journal("vi", "chn %d release of buffer %u at 0x%08X refused: not a frame held", r.s32Chn,
            r.u32BufferId, r.u32PhyAddrY);
    return fail(EINVAL);
}

struct Handler {
    unsigned long code;
    int (*run)(void *arg);
};

constexpr Handler kHandlers[] = {
    {ZQ_VI_SET_CAP_RECT, set_cap_rect},
    {ZQ_VI_SET_DEST_SIZE, set_size},
    {ZQ_VI_ENABLE_CHN, [](void *arg) { return set_enabled(arg, true); }},
    {ZQ_VI_DISABLE_CHN, [](void *arg) { return set_enabled(arg, false); }},
    {ZQ_VI_GET_FRAME, get_frame},
    {ZQ_VI_RELEASE_FRAME, release_frame},
    {ZQ_VI_SET_FRM_RATE, set_rate},
    {ZQ_VI_BIND, bind},
};

int vi_ioctl(int, unsigned long request, void *arg) {
    if (request == ZQ_VI_RESET) {
        g_requests.add(request, nullptr, 0);
        return reset();
    }
    for (const Handler &h : kHandlers) {
        if (h.code != request) continue;
        if (!arg) return fail(EFAULT);
        g_requests.add(request, arg, _IOC_SIZE(request));
        return h.run(arg);
    }
    journal("vi", "request 0x%08lX unknown", request);
    return fail(ENOTTY);
}

}  // namespace

extern const Device kViDeviceEmulator = {kViDevice, 0, vi_ioctl, refuse_read, refuse_write};

uint32_t vi_frame_number(const uint8_t *lumaRow, uint32_t width) {
    uint32_t n = 0;
    for (uint32_t bit = 0; bit < 32; ++bit) {
        uint32_t x = std::min(8 * bit + 4, width - 1);
        n = (n << 1) | (8 * bit < width && lumaRow[x] > (kViLumaHigh + kViLumaLow) / 2 ? 1u : 0u);
    }
    return n;
}

bool vi_render_latest(int channel, std::vector<uint8_t> *nv12, uint32_t *width, uint32_t *height) {
    if (channel < 0 || channel >= kViChannels || !is_active()) return false;
    const ViSettings settings = active_vi_settings();
    ViChannels channels = LockedFile(resolve(kViDevice), O_RDONLY).load(vi_channels_of, settings);
    const ViChannel &ch = channels[static_cast<size_t>(channel)];
    int64_t frame = vi_latest_kept(ch, board_monotonic_ns());
    if (frame < 0) return false;
    nv12->resize(size_t{ch.width} * ch.height * 3 / 2);
    vi_render_frame(channel, settings.sources[static_cast<size_t>(channel)],
                    static_cast<uint64_t>(frame), ch.width, ch.height, nv12->data());
    *width = ch.width;
    *height = ch.height;
    return true;
}

int vi_channel_bound_to_vo(int voChannel) {
    if (!is_active()) return -1;
    ViChannels channels =
        LockedFile(resolve(kViDevice), O_RDONLY).load(vi_channels_of, active_vi_settings());
    for (int chn = 0; chn < kViChannels; ++chn) {
        const ViChannel &ch = channels[static_cast<size_t>(chn)];
        if (ch.bindKind == ZQ_VI_BIND_TO_VO && ch.bindChn == voChannel) return chn;
    }
    return -1;
}

ViChannels read_vi_channels(const std::string &dir) {
    return LockedFile(dir + kViDevice, O_RDONLY).load(vi_channels_of, settings_of_board(dir));
}

std::string describe_vi(const std::string &dir) {
    ViSettings settings = settings_of_board(dir);
    ViChannels channels = LockedFile(dir + kViDevice, O_RDONLY).load(vi_channels_of, settings);
    std::string text;
    appendf(&text, "sensor %ux%u, buffers at 0x%08llX, %u a channel, %llu bytes apart\n",
            settings.maxWidth, settings.maxHeight,
            static_cast<unsigned long long>(settings.bufferBase), kViBuffers,
            static_cast<unsigned long long>(settings.stride()));
    for (int c = 0; c < kViChannels; ++c) {
        const ViChannel &ch = channels[static_cast<size_t>(c)];
        appendf(&text, "chn %d %s %ux%u, source %u fps, keep 0x%08X (%d a second)", c,
                ch.enabled ? "enabled " : "disabled", ch.width, ch.height, ch.srcRate, ch.keepMask,
                __builtin_popcount(ch.keepMask));
        if (c == 0)
            appendf(&text, ", capture %d,%d %ux%u", ch.capX, ch.capY, ch.capWidth, ch.capHeight);
        if (ch.bindKind >= 0)
            appendf(&text, ", bound to %s %d", ch.bindKind == 2 ? "vo" : "other", ch.bindChn);
        if (const std::string &source = settings.sources[static_cast<size_t>(c)]; !source.empty())
            appendf(&text, ", shows %s", source.c_str());
        text += '\n';
    }
    return text;
}

std::vector<ViRequest> vi_requests() {
    return g_requests.list();
}

void clear_vi_requests() {
    std::lock_guard<std::mutex> hold(g_requests.lock);
    g_requests.seen.clear();
}

}  // namespace zq::sim
