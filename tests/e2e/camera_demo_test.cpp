// The camera example as a user runs it first: on a fresh board it captures,
// displays, overlays and grabs frames in order, and the panel then shows the
// capture with the overlay and the cover where the example put them.
#include <cstdlib>
#include <set>

#include "emul/file_util.h"
#include "emul/vo.h"
#include "emul/y4m.h"
#include "port/port.h"
#include "support/vboard_fixture.h"

namespace {

using CameraDemoTest = VBoardTest;

// The display's pixel at x, y as 0xRRGGBB.
unsigned pixel(const zq::sim::VoPicture &p, unsigned x, unsigned y) {
    const uint8_t *px = &p.rgb[(size_t{y} * p.width + x) * 3];
    return unsigned{px[0]} << 16 | unsigned{px[1]} << 8 | px[2];
}

// Whether two colours are within the rounding of a trip through NV12.
bool near(unsigned a, unsigned b) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(int(a >> shift & 255) - int(b >> shift & 255)) > 6) return false;
    return true;
}

TEST_F(CameraDemoTest, RunsOnAFreshBoardAndThePanelShowsItsPicture) {
    CliRun demo = run_command("ZQ_VBOARD=" + dir() + " " ZQ_CAMERA_DEMO " 2>&1");
    ASSERT_EQ(demo.status, 0) << demo.out;
    EXPECT_NE(demo.out.find("frame  9: sensor frame 19, 640x360"), std::string::npos) << demo.out;
    EXPECT_NE(demo.out.find("10 frames in order"), std::string::npos) << demo.out;

    zq::port::access("/", 0);  // this process on the same board, for the input pictures
    zq::sim::VoPicture panel;
    std::string error;
    ASSERT_TRUE(zq::sim::compose_vo_display(dir(), &panel, &error)) << error;
    ASSERT_EQ(panel.width, 800u);
    ASSERT_EQ(panel.height, 480u);
    struct Spot {
        unsigned x, y, rgb;
        const char *what;
    } spots[] = {
        {10, 10, 0x203040, "background"},
        {120, 300, 0xFFFFFF, "the white bar of the capture at 80,60"},
        {600, 330, 0xE07020, "the cover at 440,220 of the capture"},
        {780, 470, 0x203040, "background below right"},
    };
    for (const Spot &s : spots)
        EXPECT_TRUE(near(pixel(panel, s.x, s.y), s.rgb))
            << s.what << ": 0x" << std::hex << pixel(panel, s.x, s.y);
    // The clock's see-through band darkens the white bar under it.
    EXPECT_LT(pixel(panel, 97, 77) >> 16, 0x80u) << std::hex << pixel(panel, 97, 77);
}

// The panel as a video: the demo's capture of a video source moves from
// frame to frame of the recording, 60 frames a board second.
TEST_F(CameraDemoTest, RecordsThePanelShowingAVideoSource) {
    const std::string out = dir() + "/../display.y4m";
    CliRun early = vboard("vo " + dir() + " record " + out + " --seconds 1");
    EXPECT_EQ(early.status, 1);
    EXPECT_NE(early.out.find("vo record: the display has no timing set"), std::string::npos);
    std::string clip = zq::sim::y4m_header(64, 32, 30);
    for (char luma : {'\x28', '\x78', '\xC8'})
        clip += "FRAME\n" + std::string(64 * 32, luma) + std::string(2 * 32 * 16, '\x80');
    write_board_file(dir(), "/../clip.y4m", clip);
    ASSERT_EQ(vboard("vi " + dir() + " source 0 " + dir() + "/../clip.y4m").status, 0);
    ASSERT_EQ(run_command("ZQ_VBOARD=" + dir() + " " ZQ_CAMERA_DEMO).status, 0);

    CliRun rec = vboard("vo " + dir() + " record " + out + " --seconds 0.5");
    ASSERT_EQ(rec.status, 0) << rec.out;
    const std::string video = zq::sim::read_file(out), header = zq::sim::y4m_header(800, 480, 60);
    const size_t frame = 6 + zq::sim::i420_size(800, 480);
    ASSERT_EQ(video.size(), header.size() + 30 * frame);
    EXPECT_EQ(video.substr(0, header.size()), header);
    std::set<char> lumas;  // at 400,300: the capture, away from the overlay and the cover
    for (size_t f = 0; f < 30; ++f) {
        EXPECT_EQ(video.substr(header.size() + f * frame, 6), "FRAME\n");
        lumas.insert(video[header.size() + f * frame + 6 + 300 * 800 + 400]);
    }
    EXPECT_EQ(lumas.size(), 3u) << "each of the source's frames in turn";
}

}  // namespace
