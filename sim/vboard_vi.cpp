// vboard vi: the video input driver's channels, and a snapshot of what a
// channel shows as a PNG picture.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board.h"
#include "vboard_verbs.h"
#include "vi_frames.h"

#if ZQ_HAVE_PNG
#include <png.h>
#endif

namespace zq::sim {
namespace {

int fail(const std::string &message) {
    std::fprintf(stderr, "vboard: %s\n", message.c_str());
    return 1;
}

#if ZQ_HAVE_PNG
uint8_t clamp_byte(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// NV12 (limited range, BT.601) to packed RGB.
std::vector<uint8_t> nv12_to_rgb(const std::vector<uint8_t> &nv12, uint32_t w, uint32_t h) {
    std::vector<uint8_t> rgb(size_t{w} * h * 3);
    const uint8_t *uv = nv12.data() + size_t{w} * h;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            int c = 298 * (nv12[size_t{y} * w + x] - 16);
            const uint8_t *pair = uv + size_t{y / 2} * w + (x & ~1u);
            int d = pair[0] - 128, e = pair[1] - 128;
            uint8_t *out = &rgb[(size_t{y} * w + x) * 3];
            out[0] = clamp_byte((c + 409 * e + 128) >> 8);
            out[1] = clamp_byte((c - 100 * d - 208 * e + 128) >> 8);
            out[2] = clamp_byte((c + 516 * d + 128) >> 8);
        }
    }
    return rgb;
}

bool write_png(const std::string &path, const std::vector<uint8_t> &rgb, uint32_t w, uint32_t h) {
    std::FILE *f = std::fopen(path.c_str(), "wbe");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info;
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (uint32_t y = 0; y < h; ++y) png_write_row(png, &rgb[size_t{y} * w * 3]);
        png_write_end(png, nullptr);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 && ok;
}
#endif

int snapshot(const std::string &dir, const std::string &channelText, const std::string &out) {
    char *end = nullptr;
    long channel = std::strtol(channelText.c_str(), &end, 10);
    if (channelText.empty() || *end || channel < 0 || channel >= kViChannels)
        return fail("vi snapshot: CHN is 0.." + std::to_string(kViChannels - 1));
    std::string error;
    if (!activate(dir, &error)) return fail(error);
    std::vector<uint8_t> nv12;
    uint32_t w = 0, h = 0;
    if (!vi_render_latest(static_cast<int>(channel), &nv12, &w, &h))
        return fail("vi snapshot: channel " + channelText + " is not enabled or has no frame yet");
#if ZQ_HAVE_PNG
    if (!write_png(out, nv12_to_rgb(nv12, w, h), w, h)) return fail(out + ": cannot be written");
    std::printf("chn %ld frame %u (%ux%u) in %s\n", channel, vi_frame_number(nv12.data(), w), w, h,
                out.c_str());
    return 0;
#else
    (void)out;
    return fail("vi snapshot: this vboard was built without libpng");
#endif
}

}  // namespace

const char *const kViUsage =
    "usage: vboard vi DIR show\n"
    "       vboard vi DIR snapshot CHN OUT.png\n"
    "show: the video input driver's channels 0-5 (enabled, size, source rate,\n"
    "keep mask, capture rectangle, binding) and where its frame buffers lie.\n"
    "snapshot: the picture channel CHN shows now (its newest kept frame, on the\n"
    "board clock) as an RGB PNG file; prints the frame's number.\n";

int run_vi(const Args &args) {
    if (args.size() < 2 || args[0][0] == '-')
        return fail("vi: wants DIR show|snapshot (see vboard vi --help)");
    const std::string &dir = args[0];
    if (::access((dir + "/" + kBoardFile).c_str(), F_OK) != 0)
        return fail(dir + " is not a virtual board (no board.json)");
    if (args[1] == "show" && args.size() == 2) {
        std::fputs(describe_vi(dir).c_str(), stdout);
        return 0;
    }
    if (args[1] == "snapshot" && args.size() == 4) return snapshot(dir, args[2], args[3]);
    return fail("vi: wants DIR show, or DIR snapshot CHN OUT.png (see vboard vi --help)");
}

}  // namespace zq::sim
