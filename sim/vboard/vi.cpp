// vboard vi: the video input driver's channels, and a snapshot of what a
// channel shows as a PNG picture.
#include <cstdio>
#include <string>
#include <vector>

#include "emul/board.h"
#include "emul/picture.h"
#include "vboard/verbs.h"
#include "emul/vi.h"

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

}  // namespace zq::sim
