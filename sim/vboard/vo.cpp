// vboard vo: the video output's state and the picture its panel shows.
#include <cstdio>

#include "emul/board.h"
#include "emul/picture.h"
#include "vboard/verbs.h"
#include "emul/vo.h"

namespace zq::sim {

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

}  // namespace zq::sim
