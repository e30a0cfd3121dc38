// vboard vi, vo and rgn: what the video input, video output and region
// drivers of a board hold, and the pictures the channels and the panel show.
#include <json-c/json.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "board/vi_sources.h"
#include "emul/board.h"
#include "emul/json_util.h"
#include "emul/picture.h"
#include "emul/rgn.h"
#include "emul/vi.h"
#include "emul/vo.h"
#include "emul/y4m.h"
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

int source(const std::string &dir, const std::string &channelText, const std::string &file) {
    long long channel = 0;
    if (!parse_number(channelText, 0, kViChannels - 1, &channel))
        return fail("vi source: CHN is 0.." + std::to_string(kViChannels - 1));
    std::string shown, error;
    if (!set_vi_source(dir, static_cast<int>(channel), file, &shown, &error))
        return fail("vi source: " + error + "; chn " + channelText + " shows what it showed");
    std::printf("chn %lld shows %s\n", channel, shown.c_str());
    return 0;
}

// The display, one frame per refresh on the board clock, into a YUV4MPEG2
// file at the display's size.
int record(const std::string &dir, const std::string &out, const std::string &secondsText) {
    double seconds = 0;
    if (!parse_real(secondsText, &seconds) || !(seconds > 0) || seconds > 3600)
        return fail("vo record: --seconds wants a number of board seconds above 0, at most 3600");
    json_object *board = json_load_file(dir + "/" + kBoardFile, nullptr);
    json_object *speedValue = json_get(json_get(board, "clock"), "speed");
    const double speed = speedValue ? json_object_get_double(speedValue) : 1.0;
    json_object_put(board);
    if (!(speed > 0)) return fail("vo record: the board clock is stopped (speed 0)");
    std::string error;
    VoPicture picture;
    if (!activate(dir, &error) || !compose_vo_display(dir, &picture, &error))
        return fail("vo record: " + error);
    std::FILE *file = std::fopen(out.c_str(), "wbe");
    if (!file) return fail("vo record: " + out + " cannot be written");
    const uint32_t width = picture.width, height = picture.height;
    const auto frames = static_cast<uint64_t>(std::llround(seconds * kVoRefreshRate));
    std::vector<uint8_t> planes(i420_size(width, height));
    bool written = std::fputs(y4m_header(width, height, kVoRefreshRate).c_str(), file) >= 0;
    const int64_t start = board_monotonic_ns();
    uint64_t frame = 0;
    for (; frame < frames && written && error.empty(); ++frame) {
        sleep_until(start + static_cast<int64_t>(frame * 1'000'000'000 / kVoRefreshRate));
        if (frame > 0 && !compose_vo_display(dir, &picture, &error)) break;
        if (picture.width != width || picture.height != height) {
            error = "the display changed its size";
            break;
        }
        rgb_to_i420(picture.rgb.data(), width, height, planes.data());
        written = std::fputs("FRAME\n", file) >= 0 &&
                  std::fwrite(planes.data(), 1, planes.size(), file) == planes.size();
    }
    if (std::fclose(file) != 0 || !written) return fail("vo record: " + out + " cannot be written");
    if (!error.empty())
        return fail("vo record: " + error + " after " + std::to_string(frame) + " frames; " + out +
                    " holds those");
    std::printf("%s: %ux%u, %llu frames at %u a second\n", out.c_str(), width, height,
                static_cast<unsigned long long>(frames), kVoRefreshRate);
    return 0;
}

}  // namespace

const char *const kViUsage =
    "usage: vboard vi DIR show\n"
    "       vboard vi DIR snapshot CHN OUT.png\n"
    "       vboard vi DIR source CHN FILE|bars\n"
    "show: the video input driver's channels 0-5 (enabled, size, source rate,\n"
    "keep mask, capture rectangle, binding) and where its frame buffers lie.\n"
    "snapshot: the picture channel CHN shows now (its newest kept frame, on the\n"
    "board clock) as an RGB PNG file; prints the frame's number.\n"
    "source: what stands before channel CHN's sensor: a PNG picture (shown on\n"
    "every frame), a YUV4MPEG2 video (.y4m, 8-bit 4:2:0; one video frame per\n"
    "sensor frame, looping), or the colour bars. Scaled to the channel's size;\n"
    "the frame number row and the regions are drawn over it.\n";

int run_vi(const Args &args) {
    if (args.size() < 2 || args[0][0] == '-') return fail("vi", "wants DIR show|snapshot|source");
    const std::string &dir = args[0];
    if (!is_board(dir)) return fail(not_a_board(dir));
    if (args[1] == "show" && args.size() == 2) {
        std::fputs(describe_vi(dir).c_str(), stdout);
        return 0;
    }
    if (args[1] == "snapshot" && args.size() == 4) return snapshot(dir, args[2], args[3]);
    if (args[1] == "source" && args.size() == 4) return source(dir, args[2], args[3]);
    return fail("vi", "wants DIR show, DIR snapshot CHN OUT.png or DIR source CHN FILE|bars");
}

const char *const kVoUsage =
    "usage: vboard vo DIR show\n"
    "       vboard vo DIR snapshot OUT.png\n"
    "       vboard vo DIR record OUT.y4m --seconds S\n"
    "show prints what the video output driver keeps: the timing (active size,\n"
    "flags, background colour), each channel (on or off, rectangle, crop), the\n"
    "image layer and the video layer.\n"
    "snapshot writes what the panel shows now as an RGB PNG of the timing's\n"
    "size: the background, the enabled channels with the pictures of the input\n"
    "channels bound to them (black without a picture), the image layer on top.\n"
    "record writes what the panel shows for S board seconds as a YUV4MPEG2\n"
    "video at the timing's size, one frame per refresh (60 a second).\n";

int run_vo(const Args &args) {
    bool show = args.size() == 2 && args[1] == "show";
    bool recording = args.size() == 5 && args[1] == "record" && args[3] == "--seconds";
    if (!show && !recording && !(args.size() == 3 && args[1] == "snapshot"))
        return fail("vo", "wants DIR show, DIR snapshot OUT.png or DIR record OUT.y4m --seconds S");
    if (!is_board(args[0])) return fail("vo: " + not_a_board(args[0]));
    if (recording) return record(args[0], args[2], args[4]);
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
