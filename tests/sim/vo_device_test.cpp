// "/dev/vo": the driver's rules, the composed display and vboard vo.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "emul/mem.h"
#include "emul/vo.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_vo.h"

#if ZQ_HAVE_PNG
#include <png.h>
#endif

namespace {

namespace port = zq::port;
using zq::sim::VoPicture;

class VoDeviceTest : public VBoardTest {
  protected:
    // A 16 x 8 panel with a grey-blue background and channel 1 at (4, 2), 6 x 4.
    void small_display() {
        ASSERT_EQ(ZQ_MPI_VO_Init(), 0);
        VoPubAttr pub{0x102030, VO_INTF_LCD, VO_SYNC_USER, {}};
        pub.stUserSync.u16HActive = 16;
        pub.stUserSync.u16VActive = 8;
        ASSERT_EQ(ZQ_MPI_VO_SetPubAttr(0, &pub), 0);
        VoChnAttr shown{0, {4, 2, 6, 4}, 0}, hidden{0, {0, 0, 16, 8}, 0};
        ASSERT_EQ(ZQ_MPI_VO_SetChnAttr(0, 1, &shown), 0);
        ASSERT_EQ(ZQ_MPI_VO_SetChnAttr(0, 2, &hidden), 0);
        ASSERT_EQ(ZQ_MPI_VO_EnableChn(0, 1), 0);
    }
};

std::string pixel(const VoPicture &p, uint32_t x, uint32_t y) {
    const uint8_t *px = &p.rgb[(size_t{y} * p.width + x) * 3];
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", px[0], px[1], px[2]);
    return text;
}

// Each spot of the picture shows its colour, as RRGGBB.
void expect_pixels(const VoPicture &p,
                   std::initializer_list<std::tuple<uint32_t, uint32_t, const char *>> spots) {
    for (const auto &[x, y, rgb] : spots) EXPECT_EQ(pixel(p, x, y), rgb) << x << "," << y;
}

TEST_F(VoDeviceTest, DriverRefusesWhatItCannotShowAndTakesTheLargestPanel) {
    int fd = port::open(zq::sim::kVoDevice, O_RDONLY);
    ASSERT_GE(fd, 0);
    VoDrvTiming wide{}, wrapped{};
    wide.u32LastColumn = zq::sim::kVoMaxSide;  // one column too many
    wrapped.u32LastLine = 0xFFFFFFFF;
    VoDrvChn fifth{4};
    VoDrvChnRect minus{-1, 8, 0, 0, 8, 8};
    VoDrvImageLayer format2{2, 0, 0, 0, 8, 8, 0};
    auto error_of = [fd](unsigned long request, void *record) {
        return port::ioctl(fd, request, record) == 0 ? 0 : errno;
    };
    EXPECT_EQ(error_of(ZQ_VO_SET_PUB_ATTR, &wide), EINVAL);
    EXPECT_EQ(error_of(ZQ_VO_SET_PUB_ATTR, &wrapped), EINVAL);
    EXPECT_EQ(error_of(ZQ_VO_ENABLE_CHN, &fifth), EINVAL);
    EXPECT_EQ(error_of(ZQ_VO_SET_CHN_ATTR, &minus), EINVAL);
    EXPECT_EQ(error_of(ZQ_VO_SET_IMAGE_LAYER_ATTR, &format2), EINVAL);
    zq::sim::VoDriverState untouched = zq::sim::read_vo_state(dir());
    EXPECT_FALSE(untouched.timingSet || untouched.channels[3].rectSet || untouched.layerSet);
    VoDrvTiming largest{};
    largest.u32LastColumn = largest.u32LastLine = zq::sim::kVoMaxSide - 1;
    EXPECT_EQ(error_of(ZQ_VO_SET_PUB_ATTR, &largest), 0);
    EXPECT_EQ(error_of(ZQ_VO_ENABLE_IMAGE_LAYER, nullptr), 0);  // takes no record
    zq::sim::VoDriverState taken = zq::sim::read_vo_state(dir());
    EXPECT_TRUE(taken.timingSet && taken.layerEnabled);
    port::close(fd);
}

// What the panel shows, as the board composes it and vboard saves it.
TEST_F(VoDeviceTest, DisplayComposesBackgroundChannelsAndImageLayerAndVboardSavesIt) {
    const std::string png = dir() + "/display.png";
    small_display();
    CliRun snap = vboard("vo " + dir() + " snapshot " + png);
#if ZQ_HAVE_PNG
    ASSERT_EQ(snap.status, 0) << snap.out;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    ASSERT_EQ(std::make_pair(image.width, image.height), std::make_pair(16u, 8u));
    expect_pixels({image.width, image.height, rgb}, {{15, 7, "102030"}, {5, 3, "000000"}});
#else
    EXPECT_EQ(snap.status, 1);
    EXPECT_NE(snap.out.find("built without PNG support"), std::string::npos) << snap.out;
#endif

    // ARGB8888: an opaque red pixel, then a transparent one.
    ASSERT_TRUE(zq::sim::write_phys_word(dir(), 0x1000, 0xFFFF0000));
    ASSERT_TRUE(zq::sim::write_phys_word(dir(), 0x1004, 0x0000FF00));
    VoImageLayerAttr layer{{0, 7, 2, 1}, VO_PIXFMT_ARGB8888, 0x1000, 0};
    ASSERT_EQ(ZQ_MPI_VO_SetImageLayerAttr(0, &layer), 0);
    ASSERT_EQ(ZQ_MPI_VO_EnableImageLayer(0), 0);
    VoPicture p;
    std::string error;
    ASSERT_TRUE(zq::sim::compose_vo_display(dir(), &p, &error)) << error;
    ASSERT_EQ(std::make_pair(p.width, p.height), std::make_pair(16u, 8u));
    // Channel 1 has no input picture: black, exactly its rectangle.
    expect_pixels(p, {{0, 0, "102030"},
                      {4, 2, "000000"},
                      {9, 5, "000000"},
                      {10, 5, "102030"},
                      {3, 2, "102030"},
                      {4, 6, "102030"},
                      {0, 7, "FF0000"},
                      {1, 7, "102030"}});
    // ARGB1555: shown only with the alpha bit; the layer may hang off the panel.
    ASSERT_TRUE(zq::sim::write_phys_word(dir(), 0x2000, 0x001F801F));
    layer = {{14, -1, 3, 2}, VO_PIXFMT_ARGB1555, 0x2000 - 6, 0};  // row 1 starts at 0x2000
    ASSERT_EQ(ZQ_MPI_VO_SetImageLayerAttr(0, &layer), 0);
    ASSERT_TRUE(zq::sim::compose_vo_display(dir(), &p, &error)) << error;
    expect_pixels(p, {{14, 0, "0000FF"}, {15, 0, "102030"}, {0, 7, "102030"}});
}

}  // namespace
