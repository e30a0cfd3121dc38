// vboard vo: the video output's state and the picture its panel shows.
#include <unistd.h>

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
    auto fail = [](const std::string &message) {
        std::fprintf(stderr, "vboard: vo: %s\n", message.c_str());
        return 1;
    };
    bool show = args.size() == 2 && args[1] == "show";
    if (!show && !(args.size() == 3 && args[1] == "snapshot"))
        return fail("wants DIR show or DIR snapshot OUT.png (see vboard vo --help)");
    if (::access((args[0] + "/" + kBoardFile).c_str(), F_OK) != 0)
        return fail(args[0] + " is not a virtual board (no board.json)");
    if (show) {
        std::fputs(describe_vo(args[0]).c_str(), stdout);
        return 0;
    }
    // The input channels' pictures are those of the board this process is on.
    std::string error;
    VoPicture picture;
    if (!activate(args[0], &error) || !compose_vo_display(args[0], &picture, &error) ||
        !write_rgb_png(args[2], picture.rgb, picture.width, picture.height, &error))
        return fail(error);
    std::printf("%s: %ux%u\n", args[2].c_str(), picture.width, picture.height);
    return 0;
}

}  // namespace zq::sim
