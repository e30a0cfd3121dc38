// vboard vi, vo and rgn: what the video input, video output and region
// drivers of a board hold, and the pictures the channels and the panel show.
#include <cstdio>
#include <string>
#include <vector>

#include "emul/board.h"
#include "emul/picture.h"
#include "emul/rgn.h"
#include "emul/vi.h"
#include "emul/vo.h"
#include "vboard/verbs.h"

namespace zq::sim {
namespace {

int snapshot(const std::string &dir, const std::string &channelText, const std::string &out) {
    long long channel = 0;
    if (!parse_number(channelText, 0, kViChannels - 1, &channel))
        return fail("vi snapshot: CHN is 0.." + std::to_string(kViChannels - 1));
    std::string error;
    if (!activate(dir, &error)) return fail(error);
    std::vector<uint8_t> nv12;
    uint32_t w = 0, h = 0;
    if (!vi_render_latest(static_cast<int>(channel), &nv12, &w, &h))
        return fail("vi snapshot: channel " + channelText + " is not enabled or has no frame yet");
    if (!write_rgb_png(out, nv12_to_rgb(nv12, w, h), w, h, &error))
        return fail("vi snapshot: " + error);
    std::printf("chn %lld frame %u (%ux%u) in %s\n", channel, vi_frame_number(nv12.data(), w), w, h,
                out.c_str());
    return 0;
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
    if (args.size() < 2 || args[0][0] == '-') return fail("vi", "wants DIR show|snapshot");
    const std::string &dir = args[0];
    if (!is_board(dir)) return fail(not_a_board(dir));
    if (args[1] == "show" && args.size() == 2) {
        std::fputs(describe_vi(dir).c_str(), stdout);
        return 0;
    }
    if (args[1] == "snapshot" && args.size() == 4) return snapshot(dir, args[2], args[3]);
    return fail("vi", "wants DIR show, or DIR snapshot CHN OUT.png");
}

const char *const kVoUsage =
    "usage: vboard vo DIR show\n"
    "       vboard vo DIR snapshot OUT.png\n"
    "show prints what the video output driver keeps: the timing (active size,\n"
    "flags, background colour), each channel (on or off, rectangle, crop), the\n"
    "image layer and the video layer.\n"
    "snapshot writes what the panel shows now as an RGB PNG of the timing's\n"
    "size: the background, the enabled channels with the pictures of the input\n"
    "channels bound to them (black without a picture), the image layer on top.\n";

int run_vo(const Args &args) {
    bool show = args.size() == 2 && args[1] == "show";
    if (!show && !(args.size() == 3 && args[1] == "snapshot"))
        return fail("vo", "wants DIR show or DIR snapshot OUT.png");
    if (!is_board(args[0])) return fail("vo: " + not_a_board(args[0]));
    if (show) {
        std::fputs(describe_vo(args[0]).c_str(), stdout);
        return 0;
    }
    // The input channels' pictures are those of the board this process is on.
    std::string error;
    VoPicture picture;
    if (!activate(args[0], &error) || !compose_vo_display(args[0], &picture, &error) ||
        !write_rgb_png(args[2], picture.rgb, picture.width, picture.height, &error))
        return fail("vo: " + error);
    std::printf("%s: %ux%u\n", args[2].c_str(), picture.width, picture.height);
    return 0;
}

const char *const kRgnUsage =
    "usage: vboard rgn DIR show\n"
    "Prints what the region driver holds, one line each: the palettes that\n"
    "are set (16 colours 0xAARRGGBB), the overlays (\"osd CHANNEL/HANDLE\" with\n"
    "size, format, place, colour map, effect, shown or hidden and the bitmap\n"
    "bytes loaded) and the covers (size, place, colour 0xRRGGBB, effect, shown\n"
    "or hidden); \"no regions\" when there is nothing.\n";

int run_rgn(const Args &args) {
    if (args.size() != 2 || args[1] != "show") return fail("rgn", "which board, and show?");
    if (!is_board(args[0])) return fail(not_a_board(args[0]));
    std::fputs(regions_text(read_regions(args[0])).c_str(), stdout);
    return 0;
}

}  // namespace zq::sim
