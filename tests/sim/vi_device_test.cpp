// The video input emulator keeps the driver's rules: frames on the board
// clock thinned by the keep mask, four buffers a channel at fixed physical
// addresses, releases only of frames held, channel state every process sees.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "vi_frames.h"
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
    void start(s32 chn, u32 width, u32 height, u32 src, u32 mask) {
        ViDrvSize size{chn, width, height};
        ViDrvFrmRate rate{chn, src - 1, mask};
        ViDrvChn c{chn};
        ASSERT_EQ(request(ZQ_VI_SET_DEST_SIZE, &size), 0);
        ASSERT_EQ(request(ZQ_VI_SET_FRM_RATE, &rate), 0);
        ASSERT_EQ(request(ZQ_VI_ENABLE_CHN, &c), 0);
    }
    // A get that must succeed; the frame's number from its picture.
    ViDrvFrame get(s32 chn, u32 *number = nullptr) {
        ViDrvFrame f{};
        f.s32Chn = chn;
        EXPECT_EQ(request(ZQ_VI_GET_FRAME, &f), 0);
        if (number) {
            std::vector<uint8_t> row(f.u32Width);
            int mem = ::open(host("/dev/mem").c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_EQ(::pread(mem, row.data(), row.size(), off_t(f.u32PhyAddrY)),
                      ssize_t(row.size()));
            ::close(mem);
            *number = sim::vi_frame_number(row.data(), f.u32Width);
        }
        return f;
    }
    // What vboard prints (standard output and error).
    static std::string run(const std::string &args) {
        std::string out;
        FILE *pipe = ::popen((std::string(ZQ_VBOARD_TOOL) + " " + args + " 2>&1").c_str(), "r");
        char buf[4096];
        for (size_t n; pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
        if (pipe) ::pclose(pipe);
        return out;
    }
    int fd_ = -1;
};

TEST_F(ViDeviceTest, KeepMaskThinsTheSourceAndALateReaderGetsTheNewestFrame) {
    start(1, 256, 32, 5, 0x12);  // frames 1 and 4 of each second of 5
    std::vector<u32> numbers;
    std::vector<u64> times;
    for (int i = 0; i < 4; ++i) {
        u32 n;
        ViDrvFrame f = get(1, &n);
        numbers.push_back(n);
        times.push_back(f.u64Pts);
        ViDrvFrame back = f;
        back.u64Pts = 0;
        ASSERT_EQ(request(ZQ_VI_RELEASE_FRAME, &back), 0);
    }
    EXPECT_EQ(numbers, (std::vector<u32>{1, 4, 6, 9}));
    EXPECT_EQ(times, (std::vector<u64>{30'200'000, 30'800'000, 31'200'000, 31'800'000}));
    port::sleep_ms(2300);  // at 34.1 s, frame 19 (33.8 s) is the newest kept
    u32 n;
    EXPECT_EQ(get(1, &n).u64Pts, 33'800'000u);
    EXPECT_EQ(n, 19u);

    ViDrvFrame f{};
    f.s32Chn = 2;  // not enabled
    EXPECT_EQ(request(ZQ_VI_GET_FRAME, &f), -1);
    EXPECT_EQ(errno, EINVAL);
    ViDrvFrmRate none{1, 4, 0}, tooWide{1, 4, 0x20}, tooFast{1, 30, 1};
    ASSERT_EQ(request(ZQ_VI_SET_FRM_RATE, &none), 0);
    f.s32Chn = 1;
    EXPECT_EQ(request(ZQ_VI_GET_FRAME, &f), -1);
    EXPECT_EQ(errno, EAGAIN);
    for (ViDrvFrmRate *bad : {&tooWide, &tooFast}) {
        EXPECT_EQ(request(ZQ_VI_SET_FRM_RATE, bad), -1);
        EXPECT_EQ(errno, EINVAL);
    }
}

TEST_F(ViDeviceTest, FourBuffersAtFixedAddressesAndOnlyHeldFramesGoBack) {
    ASSERT_TRUE(sim::set_board_value(dir(), "vi.buffer_base", "\"0x90000000\"", nullptr));
    start(2, 256, 32, 30, 0x3FFFFFFF);
    const u32 stride = (1920 * 1080 * 3 / 2 + 4095) / 4096 * 4096;
    std::vector<ViDrvFrame> held;
    for (u32 b = 0; b < 4; ++b) {
        held.push_back(get(2));
        EXPECT_EQ(held.back().u32BufferId, b);
        EXPECT_EQ(held.back().u32PhyAddrY, 0x90000000u + (2 * 4 + b) * stride);
        EXPECT_EQ(held.back().u32PhyAddrUV, held.back().u32PhyAddrY + 256 * 32);
    }
    ViDrvFrame f{};
    f.s32Chn = 2;
    EXPECT_EQ(request(ZQ_VI_GET_FRAME, &f), -1);
    EXPECT_EQ(errno, ENOBUFS);

    ViDrvFrame wrongId = held[1], wrongAddress = held[1], wrongChannel = held[1];
    wrongId.u32BufferId = 2 + 2;
    wrongAddress.u32PhyAddrY += 4096;
    wrongChannel.s32Chn = 3;
    for (ViDrvFrame *bad : {&wrongId, &wrongAddress, &wrongChannel}) {
        EXPECT_EQ(request(ZQ_VI_RELEASE_FRAME, bad), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(request(ZQ_VI_RELEASE_FRAME, &held[1]), 0);
    EXPECT_EQ(request(ZQ_VI_RELEASE_FRAME, &held[1]), -1);  // not held twice
    EXPECT_EQ(get(2).u32BufferId, 1u);

    // A reset drops every hold and brings the channels back to power-on.
    EXPECT_EQ(request(ZQ_VI_RESET, nullptr), 0);
    EXPECT_EQ(request(ZQ_VI_RELEASE_FRAME, &held[0]), -1);
    sim::ViChannels channels = sim::read_vi_channels(dir());
    EXPECT_FALSE(channels[2].enabled);
    EXPECT_EQ(channels[2].width, 640u);
    const std::vector<std::string> vi = journal_events("vi");
    EXPECT_NE(std::find(vi.begin(), vi.end(), "chn 2 get refused: every buffer is held"), vi.end());
    EXPECT_NE(std::find(vi.begin(), vi.end(),
                        "chn 2 release of buffer 4 at 0x91AB8000 refused: not a frame held"),
              vi.end());
}

TEST_F(ViDeviceTest, StateIsSharedAndTheLatestPictureIsWhatTheChannelShows) {
    ViRect outside{1000, 0, 1280, 720};
    EXPECT_EQ(request(ZQ_VI_SET_CAP_RECT, &outside), -1);
    ViDrvSize odd{0, 641, 360}, big{1, 1922, 360};
    EXPECT_EQ(request(ZQ_VI_SET_DEST_SIZE, &odd), -1);
    EXPECT_EQ(request(ZQ_VI_SET_DEST_SIZE, &big), -1);
    ViDrvBind toVo{0, 2, 1};
    ASSERT_EQ(request(ZQ_VI_BIND, &toVo), 0);
    start(0, 320, 180, 30, 0x2AAAAAAA);
    start(3, 256, 32, 30, 0x3FFFFFFF);
    port::sleep_ms(200);  // frames 0..6 captured, 5 the newest kept
    std::vector<uint8_t> picture;
    u32 width = 0, height = 0;
    ASSERT_TRUE(sim::vi_render_latest(0, &picture, &width, &height));
    EXPECT_EQ(width, 320u);
    EXPECT_EQ(height, 180u);
    EXPECT_EQ(sim::vi_frame_number(picture.data(), width), 5u);
    EXPECT_FALSE(sim::vi_render_latest(1, &picture, &width, &height));
    // Another process sees the same channels: vboard shows them, and takes a
    // snapshot of a channel at the board time it sees (30 s: frame 0).
    const std::string shown = run("vi " + dir() + " show");
    EXPECT_NE(shown.find("chn 0 enabled  320x180, source 30 fps, keep 0x2AAAAAAA (15 a second), "
                         "capture 0,0 1920x1080, bound to vo 1\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("chn 5 disabled 640x360"), std::string::npos) << shown;
#if ZQ_TEST_HAVE_PNG
    EXPECT_EQ(run("vi " + dir() + " snapshot 3 " + dir() + "/chn3.png"),
              "chn 3 frame 0 (256x32) in " + dir() + "/chn3.png\n");
    EXPECT_EQ(sim::read_board_file(dir(), "/chn3.png").substr(0, 4), "\x89PNG");
#endif
    EXPECT_EQ(run("vi " + dir() + " snapshot 1 x.png"),
              "vboard: vi snapshot: channel 1 is not enabled or has no frame yet\n");
}

}  // namespace
