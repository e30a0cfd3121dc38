// The region driver's emulator: its rules, its state as other processes
// see it, and regions drawn into video input pictures.
#include <cerrno>
#include <tuple>

#include "emul/region_overlay.h"
#include "emul/rgn.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_rgn.h"

namespace sim = zq::sim;
namespace port = zq::port;

namespace {

using RgnDeviceTest = VBoardTest;

TEST_F(RgnDeviceTest, KeepsTheDriversRules) {
    const int fd = port::open("/dev/rgn", O_RDONLY);
    ASSERT_GE(fd, 0);
    static const unsigned char pixels[8] = {};
    RgnOsdCreateReq osd{0, 1, 4, 4, 2}, osd9{0, 9, 4, 4, 2}, huge{1, 0, 4097, 1, 0},
        badFormat{1, 0, 1, 1, 3};
    RgnOsdBitmapReq fits{0, 1, pixels, 8}, tooLong{0, 1, pixels, 9}, noOverlay{2, 1, pixels, 1};
    RgnCoverReq coverMissing{0, 5, 1, 1, 0, 0, 0, 0};
    const std::tuple<unsigned long, void *, int, const char *> rows[] = {
        {ZQ_RGN_REQ_OSD_CREATE, &osd, 0, "osd create chn 0 handle 1 4x4 format 2"},
        {ZQ_RGN_REQ_OSD_CREATE, &osd, EEXIST, "osd create chn 0 handle 1 refused: exists"},
        {ZQ_RGN_REQ_OSD_CREATE, &osd9, EINVAL, "osd create chn 0 handle 9 refused: out of range"},
        {ZQ_RGN_REQ_OSD_CREATE, &huge, EINVAL,
         "osd create chn 1 handle 0 refused: 4097x1 format 0"},
        {ZQ_RGN_REQ_OSD_CREATE, &badFormat, EINVAL,
         "osd create chn 1 handle 0 refused: 1x1 format 3"},
        {ZQ_RGN_REQ_OSD_SET_BITMAP, &tooLong, EINVAL,
         "osd bitmap chn 0 handle 1 refused: 9 bytes for 8"},
        {ZQ_RGN_REQ_OSD_SET_BITMAP, &fits, 0, "osd bitmap chn 0 handle 1 8 bytes"},
        {ZQ_RGN_REQ_OSD_SET_BITMAP, &noOverlay, ENOENT,
         "osd bitmap chn 2 handle 1 refused: no such region"},
        {ZQ_RGN_REQ_COVER_SET_ATTR, &coverMissing, ENOENT,
         "cover attr chn 0 handle 5 refused: no such region"},
        {ZQ_RGN_REQ_OSD_CREATE, nullptr, EFAULT, nullptr},
        {0x40045299, &osd, ENOTTY, "request 0x40045299 unknown"},
    };
    for (const auto &[request, record, error, journal] : rows) {
        const int rc = port::ioctl(fd, request, record);
        EXPECT_EQ(rc < 0 ? errno : rc, error) << journal;
        if (journal) {
            EXPECT_EQ(journal_events("rgn").back(), journal);
        }
    }
    RgnOsdCreateReq destroy{0, 1, 0, 0, 0};
    EXPECT_EQ(port::ioctl(fd, ZQ_RGN_REQ_OSD_DESTROY, &destroy), 0);
    EXPECT_TRUE(sim::read_region_bitmap(dir(), 0, 1).empty());
    EXPECT_EQ(sim::regions_text(sim::read_regions(dir())), "no regions\n");
    port::close(fd);
}

// A 16 x 8 grey picture, with the regions of a channel drawn into it.
struct Nv12 {
    std::vector<uint8_t> luma = std::vector<uint8_t>(128, 50),
                         chroma = std::vector<uint8_t>(64, 128);
    explicit Nv12(int channel = -1) {
        if (channel >= 0) sim::draw_vi_regions(channel, luma.data(), chroma.data(), 16, 8);
    }
    std::pair<int, int> uv(uint32_t x, uint32_t row) const {
        return {chroma[row / 2 * 16 + x / 2 * 2], chroma[row / 2 * 16 + x / 2 * 2 + 1]};
    }
};

RgnAttr region(s32 type, u32 handle, s32 x, s32 y, u32 w, u32 h, u32 format, u32 color) {
    RgnAttr a{handle, type, {}};
    if (type == ZQ_RGN_OSD)
        a.unAttr.stOsd = {0, 0, format, {x, y, w, h}};
    else
        a.unAttr.stCover = {color, 0, {x, y, w, h}, 0};
    return a;
}

// Limited-range BT.601: red 82/90/240, green 144, blue 41/240/110, white 235.
TEST_F(RgnDeviceTest, DrawsShownOverlaysAndCoversIntoTheChannelsPictures) {
    // Opaque red and green, half-transparent white.
    const RgnPallet palette{{0, 0xFFFF0000, 0xFF00FF00, 0x80FFFFFF}};
    ASSERT_EQ(ZQ_MPI_RGN_SetPallet(1, &palette), 0);
    // 1 bit per pixel, first pixel in the top bit: rows 1010 and 0110.
    const RgnAttr mono = region(ZQ_RGN_OSD, 0, 2, 2, 4, 2, 0, 0);
    const uint8_t monoBits[] = {0xA6};
    // 4 bits per pixel, 4 x 3 but only its first row loaded: 1, 2, 3, 0.
    const RgnAttr colour = region(ZQ_RGN_OSD, 7, 8, 0, 4, 3, 2, 0);
    const uint8_t colourBits[] = {0x12, 0x30};
    // Over the bottom-right corner, and off the left edge.
    const RgnAttr corner = region(ZQ_RGN_COVER, 0, 14, 6, 4, 4, 0, 0x0000FF);
    const RgnAttr left = region(ZQ_RGN_COVER, 31, -2, 0, 3, 1, 0, 0xFFFFFF);
    const RgnAttr hidden = region(ZQ_RGN_COVER, 5, 0, 4, 16, 4, 0, 0);
    for (const RgnAttr *r : {&mono, &colour, &corner, &left, &hidden})
        ASSERT_EQ(ZQ_MPI_RGN_Create(1, r), 0);
    RgnBitmap b1{0, 4, 2, 0, monoBits}, b2{7, 4, 1, 2, colourBits};
    ASSERT_EQ(ZQ_MPI_RGN_SetBitMap(1, &b1), 0);
    ASSERT_EQ(ZQ_MPI_RGN_SetBitMap(1, &b2), 0);
    EXPECT_EQ(Nv12(1).luma, Nv12().luma);  // nothing shown yet
    for (auto [handle, type] :
         {std::pair{0u, ZQ_RGN_OSD}, {7u, ZQ_RGN_OSD}, {0u, ZQ_RGN_COVER}, {31u, ZQ_RGN_COVER}})
        ASSERT_EQ(ZQ_MPI_RGN_Enable(1, handle, type), 0);

    Nv12 picture(1), expected;
    auto set = [&](uint32_t x, uint32_t y, uint8_t v) { expected.luma[y * 16 + x] = v; };
    for (auto [x, y] : {std::pair{2u, 2u}, {4u, 2u}, {3u, 3u}, {4u, 3u}}) set(x, y, 82);
    set(8, 0, 82);
    set(9, 0, 144);
    set(10, 0, 143);  // 235 over 50 at alpha 128
    for (uint32_t y = 6; y < 8; ++y)
        for (uint32_t x = 14; x < 16; ++x) set(x, y, 41);
    set(0, 0, 235);
    EXPECT_EQ(picture.luma, expected.luma);
    EXPECT_EQ(picture.uv(2, 2), std::pair(90, 240));    // red at the block's top-left pixel
    EXPECT_EQ(picture.uv(14, 6), std::pair(240, 110));  // blue cover
    EXPECT_EQ(picture.uv(6, 2), std::pair(128, 128));
    EXPECT_EQ(Nv12(0).luma, Nv12().luma);  // another channel has none of them
    // A change shows in the next picture.
    ASSERT_EQ(ZQ_MPI_RGN_Disable(1, 0, ZQ_RGN_COVER), 0);
    EXPECT_EQ(Nv12(1).luma[7 * 16 + 15], 50);

    // Another process's view: vboard reads the board files.
    const CliRun shown = vboard("rgn " + dir() + " show");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out,
              "palette 1: 00000000 FFFF0000 FF00FF00 80FFFFFF 00000000 00000000 00000000 00000000 "
              "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000\n"
              "osd 1/0 4x2 format 0 at 2,2 color map 0x0 effect 0x0 shown, bitmap 1 bytes\n"
              "osd 1/7 4x3 format 2 at 8,0 color map 0x0 effect 0x0 shown, bitmap 2 bytes\n"
              "cover 1/0 4x4 at 14,6 color 0x0000FF effect 0x0 hidden\n"
              "cover 1/5 16x4 at 0,4 color 0x000000 effect 0x0 hidden\n"
              "cover 1/31 3x1 at -2,0 color 0xFFFFFF effect 0x0 shown\n");
}

}  // namespace
