// The video input driver's channel state file, its buffer addresses and
// the pictures it captures: shared by the "/dev/vi" emulator, the display
// emulator, vboard and the tests.
#include <json-c/json.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"
#include "emul/picture.h"
#include "emul/region_overlay.h"
#include "emul/state_file.h"
#include "emul/vi.h"
#include "zq_vi.h"

namespace zq::sim {
namespace {

constexpr int64_t kSecondNs = 1'000'000'000;
constexpr uint64_t kPage = 4096;

// Colour bars, left to right: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Yuv kBars[] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                         {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
constexpr uint32_t kBarCount = std::size(kBars);

// Members of a channel in the state file.
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

ViSettings settings_of_board(const std::string &dir) {
    json_object *board = json_load_file(dir + "/" + kBoardFile, nullptr);
    ViSettings settings = vi_settings(board);
    json_object_put(board);
    return settings;
}

}  // namespace

uint64_t ViSettings::stride() const {
    uint64_t bytes = uint64_t{maxWidth} * maxHeight * 3 / 2;
    return (bytes + kPage - 1) / kPage * kPage;
}

uint64_t ViSettings::buffer_address(int channel, uint32_t buffer) const {
    return bufferBase + (static_cast<uint64_t>(channel) * kViBuffers + buffer) * stride();
}

ViSettings vi_settings(json_object *board) {
    json_object *vi = json_get(board, "vi");
    ViSettings s;
    s.maxWidth = static_cast<uint32_t>(json_number(vi, "max_width", s.maxWidth));
    s.maxHeight = static_cast<uint32_t>(json_number(vi, "max_height", s.maxHeight));
    s.bufferBase = json_number(vi, "buffer_base", s.bufferBase);
    return s;
}

ViChannels vi_power_on(const ViSettings &settings) {
    ViChannels channels;
    for (int c = 0; c < kViChannels; ++c) {
        ViChannel &ch = channels[static_cast<size_t>(c)];
        // The main channel captures the whole sensor; the extended ones are
        // small copies of it until sized.
        ch.width = c == 0 ? settings.maxWidth : 640;
        ch.height = c == 0 ? settings.maxHeight : 360;
        if (c == 0) {
            ch.capWidth = settings.maxWidth;
            ch.capHeight = settings.maxHeight;
        }
    }
    return channels;
}

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

void vi_render_frame(int channel, uint32_t frame, uint32_t width, uint32_t height, uint8_t *nv12) {
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
    for (uint32_t bit = 0; bit < 32 && 8 * bit < width; ++bit) {
        bool one = (frame >> (31 - bit)) & 1u;
        uint32_t end = std::min(width, 8 * bit + 8);
        std::memset(luma + 8 * bit, static_cast<int>(one ? kViLumaHigh : kViLumaLow),
                    end - 8 * bit);
    }
    if (channel >= 0 && channel <= 2) draw_vi_regions(channel, luma, chroma, width, height);
}

uint32_t vi_frame_number(const uint8_t *lumaRow, uint32_t width) {
    uint32_t n = 0;
    for (uint32_t bit = 0; bit < 32; ++bit) {
        uint32_t x = std::min(8 * bit + 4, width - 1);
        n = (n << 1) | (8 * bit < width && lumaRow[x] > (kViLumaHigh + kViLumaLow) / 2 ? 1u : 0u);
    }
    return n;
}

// ---- the state file ----

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

ViSettings active_vi_settings() {
    return cached_board_json<vi_settings>();
}

bool vi_render_latest(int channel, std::vector<uint8_t> *nv12, uint32_t *width, uint32_t *height) {
    if (channel < 0 || channel >= kViChannels || !is_active()) return false;
    ViChannels channels =
        LockedFile(resolve(kViDevice), O_RDONLY).load(vi_channels_of, active_vi_settings());
    const ViChannel &ch = channels[static_cast<size_t>(channel)];
    int64_t frame = vi_latest_kept(ch, board_monotonic_ns());
    if (frame < 0) return false;
    nv12->resize(size_t{ch.width} * ch.height * 3 / 2);
    vi_render_frame(channel, static_cast<uint32_t>(frame), ch.width, ch.height, nv12->data());
    *width = ch.width;
    *height = ch.height;
    return true;
}

int vi_channel_bound_to_vo(int voChannel) {
    if (!is_active()) return -1;
    ViChannels channels =
        LockedFile(resolve(kViDevice), O_RDONLY).load(vi_channels_of, active_vi_settings());
    // The lowest input channel bound to the output channel shows on it.
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
        text += '\n';
    }
    return text;
}

}  // namespace zq::sim
