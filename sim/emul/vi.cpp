// "/dev/vi": the video input driver. Channels 0-5 take sizes, a capture
// rectangle (channel 0), frame rates with a keep mask, bindings, and are
// enabled and disabled; their state is in the node file "dev/vi". An
// enabled channel captures source frames on the board clock at its source
// rate, numbered from 0 at the enable, and keeps those its mask names. A
// get hands out the newest kept frame this process has not had yet, or
// waits for the next one; its picture is written into one of the channel's
// four buffers in physical memory ("dev/mem"), which stays the process's
// until released. Every request is journaled under "vi".
#include "emul/vi.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/state_file.h"

namespace zq::sim {
namespace {

// The driver's records, as the board's kernel declares them.
struct DrvRect {
    int32_t x, y;
    uint32_t width, height;
};
struct DrvSize {
    int32_t chn;
    uint32_t width, height;
};
struct DrvChn {
    int32_t chn;
};
struct DrvFrame {
    int32_t chn;
    uint32_t bufferId, phyY, phyUV, width, height;
    uint64_t ptsUs;
};
struct DrvRate {
    int32_t chn;
    uint32_t srcMinus1, keepMask;
};
struct DrvBind {
    int32_t chn, kind, destChn;
};
static_assert(sizeof(DrvFrame) == 32 && sizeof(DrvRect) == 16 && sizeof(DrvSize) == 12);

constexpr unsigned long kReset = _IO('V', 6);
constexpr unsigned long kSetCapRect = _IOW('V', 0, DrvRect);
constexpr unsigned long kSetSize = _IOW('V', 1, DrvSize);
constexpr unsigned long kEnable = _IOW('V', 2, DrvChn);
constexpr unsigned long kDisable = _IOW('V', 3, DrvChn);
constexpr unsigned long kGetFrame = _IOWR('V', 4, DrvFrame);
constexpr unsigned long kReleaseFrame = _IOW('V', 5, DrvFrame);
constexpr unsigned long kSetRate = _IOW('V', 7, DrvRate);
constexpr unsigned long kBind = _IOW('V', 8, DrvBind);
constexpr int32_t kBindOther = 0, kBindVo = 2;

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
    std::vector<ViRequest> seen;
    Taken taken[kViChannels];
    std::vector<uint8_t> picture;  // scratch for the next frame's pixels
};

ViDriver g_vi;

bool channel_ok(int32_t chn) {
    return chn >= 0 && chn < kViChannels;
}

// One request that changes channel state: load, change, store, under the
// node's lock. change returns 0 or the errno that refuses the request.
template <typename Change>
int change_state(Change change) {
    LockedFile file(resolve(kViDevice), O_RDWR);
    if (!file.is_open()) return -1;
    ViChannels channels = file.load(vi_channels_of, active_vi_settings());
    if (int error = change(channels)) return fail(error);
    return file.store(vi_channels_json(channels)) ? 0 : fail(EIO);
}

int reset() {
    {
        std::lock_guard<std::mutex> hold(g_vi.lock);
        for (Taken &t : g_vi.taken) t = Taken{};
    }
    journal("vi", "reset");
    return change_state([](ViChannels &channels) {
        channels = vi_power_on(active_vi_settings());
        return 0;
    });
}

int set_cap_rect(void *arg) {
    auto r = record_of<DrvRect>(arg);
    ViSettings s = active_vi_settings();
    bool fits = r.x >= 0 && r.y >= 0 && r.width > 0 && r.height > 0 &&
                uint64_t(uint32_t(r.x)) + r.width <= s.maxWidth &&
                uint64_t(uint32_t(r.y)) + r.height <= s.maxHeight;
    journal("vi", "capture rectangle %d,%d %ux%u%s", r.x, r.y, r.width, r.height,
            fits ? "" : " refused: outside the sensor");
    return change_state([&](ViChannels &channels) {
        if (!fits) return EINVAL;
        channels[0].capX = r.x;
        channels[0].capY = r.y;
        channels[0].capWidth = r.width;
        channels[0].capHeight = r.height;
        return 0;
    });
}

int set_size(void *arg) {
    auto r = record_of<DrvSize>(arg);
    ViSettings s = active_vi_settings();
    bool ok = channel_ok(r.chn) && r.width >= kViMinWidth && r.height >= 2 && r.width % 2 == 0 &&
              r.height % 2 == 0 && r.width <= s.maxWidth && r.height <= s.maxHeight;
    journal("vi", "chn %d size %ux%u%s", r.chn, r.width, r.height,
            ok ? "" : " refused: no such channel, or not an even size from 2x2 to the sensor's");
    return change_state([&](ViChannels &channels) {
        if (!ok) return EINVAL;
        channels[size_t(r.chn)].width = r.width;
        channels[size_t(r.chn)].height = r.height;
        return 0;
    });
}

int set_enabled(void *arg, bool enable) {
    auto r = record_of<DrvChn>(arg);
    journal("vi", "chn %d %s%s", r.chn, enable ? "enable" : "disable",
            channel_ok(r.chn) ? "" : " refused: no such channel");
    return change_state([&](ViChannels &channels) {
        if (!channel_ok(r.chn)) return EINVAL;
        ViChannel &ch = channels[size_t(r.chn)];
        if (enable && !ch.enabled) {  // capture starts over at frame 0
            ch.anchorNs = board_monotonic_ns();
            ch.anchorFrame = 0;
        }
        ch.enabled = enable;
        return 0;
    });
}

int set_rate(void *arg) {
    auto r = record_of<DrvRate>(arg);
    uint32_t src = r.srcMinus1 + 1;
    bool ok = channel_ok(r.chn) && r.srcMinus1 < kViMaxRate && (r.keepMask >> src) == 0;
    journal("vi", "chn %d source %u fps keep 0x%08X%s", r.chn, src, r.keepMask,
            ok ? "" : " refused: no such channel, rate or mask");
    return change_state([&](ViChannels &channels) {
        if (!ok) return EINVAL;
        ViChannel &ch = channels[size_t(r.chn)];
        if (ch.enabled) {  // frames go on from where they are, at the new rate
            int64_t now = board_monotonic_ns();
            ch.anchorFrame +=
                static_cast<uint64_t>((now - ch.anchorNs) * ch.srcRate / 1'000'000'000) + 1;
            ch.anchorNs = now;
        }
        ch.srcRate = src;
        ch.keepMask = r.keepMask;
        return 0;
    });
}

int bind(void *arg) {
    auto r = record_of<DrvBind>(arg);
    bool ok = channel_ok(r.chn) && (r.kind == kBindOther || r.kind == kBindVo);
    journal("vi", "chn %d bind kind %d chn %d%s", r.chn, r.kind, r.destChn,
            ok ? "" : " refused: no such channel or kind");
    return change_state([&](ViChannels &channels) {
        if (!ok) return EINVAL;
        channels[size_t(r.chn)].bindKind = r.kind;
        channels[size_t(r.chn)].bindChn = r.destChn;
        return 0;
    });
}

// Writes the picture of frame n into the buffer at phys.
bool write_picture(int chn, uint64_t n, uint32_t width, uint32_t height, uint64_t phys) {
    std::vector<uint8_t> &picture = g_vi.picture;
    picture.resize(size_t{width} * height * 3 / 2);
    vi_render_frame(chn, static_cast<uint32_t>(n), width, height, picture.data());
    int mem = ::open(resolve("/dev/mem").c_str(), O_WRONLY | O_CLOEXEC);
    if (mem < 0) return false;
    bool ok = ::pwrite(mem, picture.data(), picture.size(), static_cast<off_t>(phys)) ==
              static_cast<ssize_t>(picture.size());
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
    auto r = record_of<DrvFrame>(arg);
    if (!channel_ok(r.chn)) return refuse_get(r.chn, "no such channel", EINVAL);
    const ViSettings settings = active_vi_settings();
    if (settings.buffer_address(kViChannels, 0) > (uint64_t{1} << 32))
        return refuse_get(r.chn, "buffers beyond the address space", EIO);
    for (;;) {
        ViChannel ch;
        {
            LockedFile file(resolve(kViDevice), O_RDWR);
            if (!file.is_open()) return -1;
            ch = file.load(vi_channels_of, settings)[size_t(r.chn)];
        }
        if (!ch.enabled) return refuse_get(r.chn, "not enabled", EINVAL);
        if (ch.keepMask == 0) return refuse_get(r.chn, "keeps no frames", EAGAIN);
        std::unique_lock<std::mutex> hold(g_vi.lock);
        Taken &taken = g_vi.taken[r.chn];
        if (taken.anchorNs != ch.anchorNs || taken.anchorFrame != ch.anchorFrame) {
            taken.anchorNs = ch.anchorNs;  // a new enable or rate: any frame is new
            taken.anchorFrame = ch.anchorFrame;
            taken.last = -1;
        }
        uint32_t buffer = 0;
        while (buffer < kViBuffers && taken.buffers[buffer].held) ++buffer;
        if (buffer == kViBuffers) return refuse_get(r.chn, "every buffer is held", ENOBUFS);
        int64_t now = board_monotonic_ns(), waitUntil = now;
        int64_t n = next_frame(ch, taken.last, now, &waitUntil);
        if (n < 0) {
            hold.unlock();
            int64_t wait = waitUntil - now;
            struct timespec pause = {static_cast<time_t>(wait / 1'000'000'000),
                                     static_cast<long>(wait % 1'000'000'000)};
            clock_sleep(&pause);
            continue;  // the channel may have changed meanwhile
        }
        uint64_t phys = settings.buffer_address(r.chn, buffer);
        uint64_t uv = phys + uint64_t{ch.width} * ch.height;
        if (!write_picture(r.chn, static_cast<uint64_t>(n), ch.width, ch.height, phys))
            return refuse_get(r.chn, "physical memory cannot be written", EIO);
        taken.last = n;
        taken.buffers[buffer] = Held{true, static_cast<uint64_t>(n), ch.width, ch.height};
        r.bufferId = buffer;
        r.phyY = static_cast<uint32_t>(phys);
        r.phyUV = static_cast<uint32_t>(uv);
        r.width = ch.width;
        r.height = ch.height;
        r.ptsUs = static_cast<uint64_t>(vi_capture_ns(ch, static_cast<uint64_t>(n)) / 1000);
        std::memcpy(arg, &r, sizeof r);
        journal("vi", "chn %d frame %lld in buffer %u at 0x%08X", r.chn, static_cast<long long>(n),
                buffer, r.phyY);
        return 0;
    }
}

int release_frame(void *arg) {
    auto r = record_of<DrvFrame>(arg);
    const ViSettings settings = active_vi_settings();
    std::lock_guard<std::mutex> hold(g_vi.lock);
    bool ok = channel_ok(r.chn) && r.bufferId < kViBuffers;
    if (ok) {
        Held &h = g_vi.taken[r.chn].buffers[r.bufferId];
        uint64_t phys = settings.buffer_address(r.chn, r.bufferId);
        ok = h.held && r.phyY == phys && r.phyUV == phys + uint64_t{h.width} * h.height &&
             r.width == h.width && r.height == h.height;
        if (ok) {
            h.held = false;
            journal("vi", "chn %d frame %llu released from buffer %u", r.chn,
                    static_cast<unsigned long long>(h.frame), r.bufferId);
            return 0;
        }
    }
    journal("vi", "chn %d release of buffer %u at 0x%08X refused: not a frame held", r.chn,
            r.bufferId, r.phyY);
    return fail(EINVAL);
}

void remember(unsigned long request, const void *arg) {
    const auto *bytes = static_cast<const uint8_t *>(arg);
    size_t size = arg ? _IOC_SIZE(request) : 0;
    std::lock_guard<std::mutex> hold(g_vi.lock);
    g_vi.seen.push_back(ViRequest{request, std::vector<uint8_t>(bytes, bytes + size)});
}

int enable(void *arg) {
    return set_enabled(arg, true);
}

int disable(void *arg) {
    return set_enabled(arg, false);
}

struct Handler {
    unsigned long code;
    int (*run)(void *arg);
};

constexpr Handler kHandlers[] = {
    {kSetCapRect, set_cap_rect}, {kSetSize, set_size},   {kEnable, enable},
    {kDisable, disable},         {kGetFrame, get_frame}, {kReleaseFrame, release_frame},
    {kSetRate, set_rate},        {kBind, bind},
};

int vi_ioctl(int, unsigned long request, void *arg) {
    if (request == kReset) {
        remember(request, nullptr);
        return reset();
    }
    for (const Handler &h : kHandlers) {
        if (h.code != request) continue;
        if (!arg) return fail(EFAULT);
        remember(request, arg);
        return h.run(arg);
    }
    journal("vi", "request 0x%08lX unknown", request);
    return fail(ENOTTY);
}

}  // namespace

extern const Device kViDeviceEmulator;
const Device kViDeviceEmulator = {kViDevice,    0,       vi_ioctl, refuse_read,
                                  refuse_write, nullptr, nullptr};

std::vector<ViRequest> vi_requests() {
    std::lock_guard<std::mutex> hold(g_vi.lock);
    return g_vi.seen;
}

void clear_vi_requests() {
    std::lock_guard<std::mutex> hold(g_vi.lock);
    g_vi.seen.clear();
}

}  // namespace zq::sim
