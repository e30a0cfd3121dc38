// The video input emulator keeps the driver's rules: frames on the board
// clock thinned by the keep mask, four buffers a channel at fixed physical
// addresses, releases only of frames held, channel state every process sees.
#include <fcntl.h>

#include <cerrno>

#include "emul/board.h"
#include "emul/vi.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_vi.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

class ViDeviceTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(30);
        fd_ = port::open("/dev/vi", O_RDONLY);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        port::close(fd_);
        VBoardTest::TearDown();
    }
    int request(unsigned long code, void *record) { return port::ioctl(fd_, code, record); }
    // 0, or the errno of a refused request.
    template <typename Record>
    int error_of(unsigned long code, Record record) {
        return request(code, &record) == 0 ? 0 : errno;
    }
    void start(s32 chn, u32 width, u32 height, u32 src, u32 mask) {
        ASSERT_EQ(error_of(ZQ_VI_SET_DEST_SIZE, ViDrvSize{chn, width, height}), 0);
        ASSERT_EQ(error_of(ZQ_VI_SET_FRM_RATE, ViDrvFrmRate{chn, src - 1, mask}), 0);
        ASSERT_EQ(error_of(ZQ_VI_ENABLE_CHN, ViDrvChn{chn}), 0);
    }
    int get_error(s32 chn) { return error_of(ZQ_VI_GET_FRAME, ViDrvFrame{chn, 0, 0, 0, 0, 0, 0}); }
    // A get that must succeed.
    ViDrvFrame get(s32 chn) {
        ViDrvFrame f{chn, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(request(ZQ_VI_GET_FRAME, &f), 0);
        return f;
    }
    int fd_ = -1;
};

TEST_F(ViDeviceTest, KeepMaskThinsTheSourceIntoFourFixedBuffersAndOnlyHeldFramesGoBack) {
    ASSERT_TRUE(sim::set_board_value(dir(), "vi.buffer_base", "\"0x90000000\"", nullptr));
    start(1, 256, 32, 5, 0x12);  // frames 1 and 4 of each second of 5
    for (u32 frame : {1, 4, 6, 9}) {
        ViDrvFrame f = get(1);
        EXPECT_EQ(f.u64Pts, 30'000'000u + frame * 200'000u);  // 5 a second from 30 s
        ASSERT_EQ(request(ZQ_VI_RELEASE_FRAME, &f), 0);
    }
    port::sleep_ms(2300);  // at 34.1 s, frame 19 (33.8 s) is the newest kept
    EXPECT_EQ(get(1).u64Pts, 33'800'000u);

    EXPECT_EQ(get_error(2), EINVAL);  // not enabled
    ASSERT_EQ(error_of(ZQ_VI_SET_FRM_RATE, ViDrvFrmRate{1, 4, 0}), 0);
    EXPECT_EQ(get_error(1), EAGAIN);                                            // keeps no frames
    EXPECT_EQ(error_of(ZQ_VI_SET_FRM_RATE, ViDrvFrmRate{1, 4, 0x20}), EINVAL);  // frame 5 of 5
    EXPECT_EQ(error_of(ZQ_VI_SET_FRM_RATE, ViDrvFrmRate{1, 30, 1}), EINVAL);    // 31 a second

    start(2, 256, 32, 30, 0x3FFFFFFF);
    const u32 stride = (1920 * 1080 * 3 / 2 + 4095) / 4096 * 4096;
    std::vector<ViDrvFrame> held;
    for (u32 b = 0; b < 4; ++b) {
        held.push_back(get(2));
        EXPECT_EQ(held.back().u32BufferId, b);
        EXPECT_EQ(held.back().u32PhyAddrY, 0x90000000u + (2 * 4 + b) * stride);
    }
    EXPECT_EQ(get_error(2), ENOBUFS);
    ViDrvFrame wrongId = held[1], wrongAddress = held[1], wrongChannel = held[1];
    wrongId.u32BufferId = 4;
    wrongAddress.u32PhyAddrY += 4096;
    wrongChannel.s32Chn = 3;
    for (const ViDrvFrame &bad : {wrongId, wrongAddress, wrongChannel})
        EXPECT_EQ(error_of(ZQ_VI_RELEASE_FRAME, bad), EINVAL);
    EXPECT_EQ(request(ZQ_VI_RELEASE_FRAME, &held[1]), 0);
    EXPECT_EQ(request(ZQ_VI_RELEASE_FRAME, &held[1]), -1);  // not held twice
    EXPECT_EQ(get(2).u32BufferId, 1u);

    // A reset drops every hold and brings the channels back to power-on.
    EXPECT_EQ(request(ZQ_VI_RESET, nullptr), 0);
    EXPECT_EQ(request(ZQ_VI_RELEASE_FRAME, &held[0]), -1);
    sim::ViChannels channels = sim::read_vi_channels(dir());
    EXPECT_FALSE(channels[2].enabled);
    EXPECT_EQ(channels[2].width, 640u);
}

TEST_F(ViDeviceTest, StateIsSharedAndTheLatestPictureIsWhatTheChannelShows) {
    EXPECT_EQ(error_of(ZQ_VI_SET_CAP_RECT, ViRect{1000, 0, 1280, 720}), EINVAL);
    EXPECT_EQ(error_of(ZQ_VI_SET_DEST_SIZE, ViDrvSize{0, 641, 360}), EINVAL);
    EXPECT_EQ(error_of(ZQ_VI_SET_DEST_SIZE, ViDrvSize{1, 1922, 360}), EINVAL);
    ASSERT_EQ(error_of(ZQ_VI_BIND, ViDrvBind{0, 2, 1}), 0);  // to vo 1
    start(0, 320, 180, 30, 0x2AAAAAAA);
    start(3, 256, 32, 30, 0x3FFFFFFF);
    port::sleep_ms(200);  // frames 0..6 captured, 5 the newest kept
    std::vector<uint8_t> picture;
    u32 width = 0, height = 0;
    ASSERT_TRUE(sim::vi_render_latest(0, &picture, &width, &height));
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(320u, 180u));
    EXPECT_EQ(sim::vi_frame_number(picture.data(), width), 5u);
    EXPECT_FALSE(sim::vi_render_latest(1, &picture, &width, &height));
    // Another process sees the same channels: vboard takes a snapshot of a
    // channel at the board time it sees (30 s: frame 0).
#if ZQ_TEST_HAVE_PNG
    EXPECT_EQ(vboard("vi " + dir() + " snapshot 3 " + dir() + "/chn3.png").out,
              "chn 3 frame 0 (256x32) in " + dir() + "/chn3.png\n");
    EXPECT_EQ(sim::read_board_file(dir(), "/chn3.png").substr(0, 4), "\x89PNG");
#endif
}

}  // namespace
