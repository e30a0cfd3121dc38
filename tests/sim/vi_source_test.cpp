// What stands before the virtual sensor: a video plays one frame per sensor
// frame and loops, a picture is scaled to the channel, the frame number row
// and the regions are drawn over it, a bad file changes nothing and a file
// gone shows the colour bars.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "board/vi_sources.h"
#include "emul/picture.h"
#include "emul/vi.h"
#include "emul/y4m.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_rgn.h"
#include "zq_vi.h"

namespace sim = zq::sim;

namespace {

// A 4:2:0 video of width x height whose frame i is luma lumas[i], grey.
std::string video(uint32_t width, uint32_t height, std::vector<uint8_t> lumas,
                  const std::string &header = "") {
    std::string text = header.empty() ? sim::y4m_header(width, height, 30) : header;
    for (uint8_t luma : lumas) {
        std::string planes(sim::i420_size(width, height), '\x80');
        std::fill_n(planes.begin(), size_t{width} * height, static_cast<char>(luma));
        text += "FRAME\n" + planes;
    }
    return text;
}

class ViSourceTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(30);
    }
    std::string put(const std::string &name, const std::string &bytes) {
        const std::string path = dir() + "/../" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Channel 0 capturing at 256x32 (the frame number row's width), 30
    // frames a second, every one kept.
    void start() {
        const ViChnAttr attr{{0, 0, 1920, 1080}, {256, 32}, {}, 30, 30};
        ASSERT_EQ(ZQ_MPI_VI_Init(), 0);
        ASSERT_EQ(ZQ_MPI_VI_SetChnAttr(0, &attr), 0);
        ASSERT_EQ(ZQ_MPI_VI_SetFrmRate(0, 30, 30), 0);
        ASSERT_EQ(ZQ_MPI_VI_EnableChn(0), 0);
    }
    // The next frame: its number and its luma at x, y.
    struct Frame {
        uint32_t number;
        std::vector<uint8_t> luma;
        int at(uint32_t x, uint32_t y) const { return luma[y * 256 + x]; }
    };
    Frame next() {
        ViFrameInfo f;
        EXPECT_EQ(ZQ_MPI_VI_GetFrame(0, &f), 0);
        Frame frame{0, std::vector<uint8_t>(size_t{f.u32Width} * f.u32Height)};
        int mem = ::open(host("/dev/mem").c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(::pread(mem, frame.luma.data(), frame.luma.size(), off_t(f.u32PhyAddrY)),
                  ssize_t(frame.luma.size()));
        ::close(mem);
        EXPECT_EQ(ZQ_MPI_VI_ReleaseFrame(0, &f), 0);
        frame.number = sim::vi_frame_number(frame.luma.data(), f.u32Width);
        return frame;
    }
};

TEST_F(ViSourceTest, VideoPlaysOneFramePerSensorFrameAndLoopsUnderTheNumberAndRegions) {
    CliRun set = vboard("vi " + dir() + " source 0 " + put("v.y4m", video(32, 16, {50, 100, 150})));
    ASSERT_EQ(set.status, 0) << set.out;
    EXPECT_NE(set.out.find("(32x16 video of 3 frames)"), std::string::npos) << set.out;
    RgnAttr cover{};
    cover.enType = ZQ_RGN_COVER;
    cover.unAttr.stCover.u32Color = 0xFFFFFF;
    cover.unAttr.stCover.stRect = {200, 8, 16, 16};
    ASSERT_EQ(ZQ_MPI_RGN_Create(0, &cover), 0);
    ASSERT_EQ(ZQ_MPI_RGN_Enable(0, 0, ZQ_RGN_COVER), 0);
    start();
    const int lumas[] = {50, 100, 150};
    for (uint32_t n = 0; n < 5; ++n) {
        SCOPED_TRACE(n);
        const Frame frame = next();
        EXPECT_EQ(frame.number, n);
        EXPECT_EQ(frame.at(10, 20), lumas[n % 3]);
        EXPECT_EQ(frame.at(204, 12), 235) << "the cover over the video";
    }
}

TEST_F(ViSourceTest, BadFilesAreRefusedAndChangeNothing) {
    const std::string good = put("good.y4m", video(8, 8, {90}));
    ASSERT_EQ(vboard("vi " + dir() + " source 1 " + good).status, 0);
    const std::string shown = vboard("vi " + dir() + " show").out;
    struct Row {
        const char *name, *why;
        std::string bytes;
    } rows[] = {
        {"noend.y4m", "header line has no end", "YUV4MPEG2 W8 H8 F30:1"},
        {"c444.y4m", "chroma C444 is not 8-bit 4:2:0", video(8, 8, {1}, "YUV4MPEG2 W8 H8 C444\n")},
        {"deep.y4m", "C420p10", video(8, 8, {1}, "YUV4MPEG2 W8 H8 C420p10\n")},
        {"zero.y4m", "no width and height", video(8, 8, {1}, "YUV4MPEG2 W0 H8\n")},
        {"huge.y4m", "99999x99999 is larger than 4096", "YUV4MPEG2 W99999 H99999\nFRAME\n"},
        {"cut.y4m", "holds no whole frame", video(64, 64, {1}).substr(0, 3000)},
        {"text.png", "neither a PNG picture nor", "hello"},
        {"broken.png", "", "\x89PNG\r\n\x1a\n broken"},
        {"missing.y4m", "neither", ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = r.bytes.empty() ? dir() + "/no/such" : put(r.name, r.bytes);
        CliRun run = vboard("vi " + dir() + " source 1 " + path);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find(r.why), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("chn 1 shows what it showed"), std::string::npos) << run.out;
    }
    EXPECT_EQ(vboard("vi " + dir() + " show").out, shown);
    EXPECT_EQ(vboard("vi " + dir() + " source 6 " + good).status, 1);
    ASSERT_EQ(vboard("vi " + dir() + " source 1 bars").status, 0);
    EXPECT_EQ(vboard("vi " + dir() + " show").out.find(", shows"), std::string::npos);
}

// A PNG picture is kept in the board: the channel shows it after the file
// is gone. A video is read where it lies: gone, the channel shows the bars
// and the journal says so, once.
TEST_F(ViSourceTest, APictureStaysAVideoGoneShowsTheBars) {
    const std::string png = dir() + "/../p.png";
    std::string error;
    if (!sim::write_rgb_png(png, std::vector<uint8_t>(64 * 32 * 3, 0xFF), 64, 32, &error))
        GTEST_SKIP() << error;
    ASSERT_EQ(vboard("vi " + dir() + " source 0 " + png).status, 0);
    ::unlink(png.c_str());
    start();
    EXPECT_EQ(next().at(30, 20), 235) << "white";

    const std::string clip = put("c.y4m", video(64, 32, {60}));
    ASSERT_EQ(vboard("vi " + dir() + " source 0 " + clip).status, 0);
    EXPECT_EQ(next().at(30, 20), 60);
    ::unlink(clip.c_str());
    for (int i = 0; i < 2; ++i) EXPECT_EQ(next().at(2, 20), 235) << "the white bar";
    const auto said = journal_events("vi");
    EXPECT_EQ(std::count_if(said.begin(), said.end(),
                            [](const std::string &e) {
                                return e.find("/c.y4m: gone: colour bars") != std::string::npos;
                            }),
              1)
        << testing::PrintToString(said);
}

// Bilinear: block centres keep their values, a boundary gets their mean.
TEST(PictureScalingTest, BlocksScaleBilinear) {
    std::vector<uint8_t> source(sim::i420_size(4, 2), 128);
    const uint8_t blocks[] = {20, 20, 220, 220, 20, 20, 220, 220};
    std::copy(std::begin(blocks), std::end(blocks), source.begin());
    std::vector<uint8_t> nv12(16 * 4 * 3 / 2);
    sim::scale_i420_to_nv12(source.data(), 4, 2, nv12.data(), 16, 4);
    EXPECT_EQ(nv12[0], 20);
    EXPECT_EQ(nv12[15], 220);
    EXPECT_EQ(nv12[2 * 16 + 7] + nv12[2 * 16 + 8], 240) << "the boundary between the blocks";
    EXPECT_EQ(nv12[16 * 4], 128) << "chroma";
}

}  // namespace
