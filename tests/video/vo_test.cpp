// The video output family on a virtual board's "/dev/vo".
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "board.h"
#include "support/vboard_fixture.h"
#include "vo_display.h"
#include "zq_vo.h"

namespace {

using zq::sim::VoDriverState;

constexpr s32 code(u32 error) {
    return static_cast<s32>(0xA00F8000u + error);
}

template <typename Record>
std::vector<u32> words(const Record &record) {
    std::vector<u32> out(sizeof record / 4);
    std::memcpy(out.data(), &record, sizeof record);
    return out;
}

VoPubAttr pub_attr(s32 sync, u32 background = 0x123456) {
    VoPubAttr a{};
    a.u32BgColor = background;
    a.enIntfType = VO_INTF_LCD;
    a.enIntfSync = sync;
    return a;
}

VoPubAttr user_timing(u16 width, u16 height, u8 mode) {
    VoPubAttr a = pub_attr(VO_SYNC_USER, 0xABCDEF);
    VoUserSync &u = a.stUserSync;
    u.u8Mode = mode;
    u.u16HActive = width;
    u.u16VActive = height;
    u.u16HTiming0 = 1, u.u16HTiming1 = 2, u.u16VTiming0 = 3, u.u16VTiming1 = 4;
    u.u16HTiming2 = 5, u.u16VTiming2 = 6;
    u.au16Reserved[0] = 0xEEEE;  // fields the driver is not given
    u.u32Reserved0 = 0xDDDDDDDD;
    return a;
}

class VoTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        ASSERT_TRUE(zq::sim::set_log_levels(dir(), {{"vo", 6}}));
        ASSERT_EQ(ZQ_MPI_VO_Init(), 0);
    }
    VoDriverState driver() const { return zq::sim::read_vo_state(dir()); }
    bool logged(const std::string &text) const {
        return log_text().find(text) != std::string::npos;
    }
};

TEST_F(VoTest, RequestRecordsReachTheDriverByteForByte) {
    VoChnAttr chn{7, {-4, 8, 704, 576}, 1};
    VoChnCrop crop{1, {352, 288, 352, 288}};
    VoImageLayerAttr layer32{{10, -2, 64, 32}, VO_PIXFMT_ARGB8888, 0x90001000, 0x5};
    VoImageLayerAttr layer16 = layer32;
    layer16.enPixFormat = VO_PIXFMT_ARGB1555;
    VoVideoLayerAttr video{{1, 2, 3, 4}, 0x55, 0x66};
    VoPubAttr t32 = pub_attr(VO_SYNC_1024X600), t29 = pub_attr(VO_SYNC_480X272_ALT),
              t30 = pub_attr(VO_SYNC_480X272), t31 = pub_attr(VO_SYNC_800X480),
              t33 = pub_attr(VO_SYNC_480X320), user = user_timing(800, 480, 8),
              user0 = user_timing(800, 480, 0);
    using Get = std::function<std::vector<u32>(const VoDriverState &)>;
    Get timing = [](const VoDriverState &s) { return words(s.timing); };
    Get rect = [](const VoDriverState &s) { return words(s.channels[2].rect); };
    Get cropped = [](const VoDriverState &s) { return words(s.channels[2].crop); };
    Get image = [](const VoDriverState &s) { return words(s.layer); };
    struct Row {
        const char *what;
        std::function<s32()> call;
        Get got;
        std::vector<u32> expected;
    } rows[] = {
        {"timing 32",
         [&] { return ZQ_MPI_VO_SetPubAttr(0, &t32); },
         timing,
         {0, 160, 160, 17, 18, 0, 0, 0x123456, 1344, 635, 1023, 599}},
        {"timing 29",
         [&] { return ZQ_MPI_VO_SetPubAttr(0, &t29); },
         timing,
         {0, 16, 50, 16, 32, 0, 0x10000, 0x123456, 530, 287, 479, 271}},
        {"timing 30",
         [&] { return ZQ_MPI_VO_SetPubAttr(0, &t30); },
         timing,
         {0, 16, 50, 16, 32, 0, 0, 0x123456, 530, 287, 479, 271}},
        {"timing 31",
         [&] { return ZQ_MPI_VO_SetPubAttr(0, &t31); },
         timing,
         {0, 9, 13, 8, 12, 0, 0, 0x123456, 815, 495, 799, 479}},
        {"timing 33",
         [&] { return ZQ_MPI_VO_SetPubAttr(0, &t33); },
         timing,
         {0, 64, 32, 15, 16, 0, 0, 0x123456, 575, 350, 479, 319}},
        {"user timing, mode 8",
         [&] { return ZQ_MPI_VO_SetPubAttr(0, &user); },
         timing,
         {0, 1, 2, 3, 4, 0, 0x10000, 0xABCDEF, 5, 6, 799, 479}},
        {"user timing",
         [&] { return ZQ_MPI_VO_SetPubAttr(0, &user0); },
         timing,
         {0, 1, 2, 3, 4, 0, 0, 0xABCDEF, 5, 6, 799, 479}},
        {"channel",
         [&] { return ZQ_MPI_VO_SetChnAttr(0, 2, &chn); },
         rect,
         {2, 704, 0xFFFFFFFC, 8, 704, 576}},
        {"crop",
         [&] { return ZQ_MPI_VO_SetChnCrop(0, 2, &crop); },
         cropped,
         {2, 1, 352, 288, 352, 288}},
        {"image layer 10",
         [&] { return ZQ_MPI_VO_SetImageLayerAttr(0, &layer32); },
         image,
         {1, 0x90001000, 10, 0xFFFFFFFE, 64, 32, 5}},
        {"image layer 8",
         [&] { return ZQ_MPI_VO_SetImageLayerAttr(0, &layer16); },
         image,
         {0, 0x90001000, 10, 0xFFFFFFFE, 64, 32, 5}},
        {"video layer",
         [&] { return ZQ_MPI_VO_SetVideoLayerAttr(9, &video); },
         [](const VoDriverState &s) { return words(s.videoLayer); },
         {0x55, 0x66, 0, 0}},
    };
    for (const Row &row : rows) {
        ASSERT_EQ(row.call(), 0) << row.what;
        EXPECT_EQ(row.got(driver()), row.expected) << row.what;
    }

    EXPECT_EQ(ZQ_MPI_VO_EnableChn(0, 3), 0);
    EXPECT_EQ(ZQ_MPI_VO_EnableImageLayer(0), 0);
    VoDriverState s = driver();
    EXPECT_TRUE(s.channels[3].enabled && s.layerEnabled && !s.channels[2].enabled);
    EXPECT_EQ(ZQ_MPI_VO_DisableChn(0, 3), 0);
    EXPECT_EQ(ZQ_MPI_VO_DisableImageLayer(0), 0);
    s = driver();
    EXPECT_FALSE(s.channels[3].enabled || s.layerEnabled);
    EXPECT_TRUE(logged("[ZQ_MPI_VO_EnableChn]: VoLayer[0], VoChn[3]\n"));
    EXPECT_TRUE(
        logged("[ZQ_MPI_VO_SetChnAttr]: VoLayer[0], VoChn[2], u32Priority[7], "
               "stRect[-4, 8, 704, 576], bDeflicker[1]\n"));
    // The crop's trace shows its first four fields, bEnable first.
    EXPECT_TRUE(logged("[ZQ_MPI_VO_SetChnCrop]: VoLayer[0], VoChn[2], stRect[1, 352, 288, 352]\n"));
}

TEST_F(VoTest, ArgumentsAreCheckedInOrderAndSendNothing) {
    VoPubAttr pub = pub_attr(VO_SYNC_800X480), badType = pub, badSync = pub_attr(35),
              noHeight = user_timing(800, 0, 0);
    badType.enIntfType = 1;
    VoChnAttr chn{0, {0, 0, 704, 576}, 0};
    VoChnCrop farRight{1, {353, 0, 352, 288}}, narrow{1, {0, 0, 350, 288}},
        negative{1, {-1, 0, 352, 288}};
    VoImageLayerAttr layer{{0, 0, 8, 8}, 9, 0, 0};
    VoImageLayerAttr layerOut{};
    VoPubAttr pubOut{};
    ASSERT_EQ(ZQ_MPI_VO_SetChnAttr(0, 1, &chn), 0);
    size_t before = journal_events("/dev/vo").size();
    struct Row {
        std::function<s32()> call;
        s32 expected;
        const char *message;
    } rows[] = {
        {[&] { return ZQ_MPI_VO_SetPubAttr(1, nullptr); }, code(2), "not support VoDev = 1\n"},
        {[&] { return ZQ_MPI_VO_SetPubAttr(0, nullptr); }, code(6), "pstPubAttr is null\n"},
        {[&] { return ZQ_MPI_VO_SetPubAttr(0, &badType); }, code(8),
         "not support enIntfType = 1\n"},
        {[&] { return ZQ_MPI_VO_SetPubAttr(0, &badSync); }, code(8),
         "not support enIntfSync = 23\n"},
        {[&] { return ZQ_MPI_VO_SetPubAttr(0, &noHeight); }, code(8),
         "not support enIntfSync = 22\n"},
        {[&] { return ZQ_MPI_VO_GetPubAttr(1, nullptr); }, code(6), "pstPubAttr is null\n"},
        {[&] { return ZQ_MPI_VO_GetPubAttr(1, &pubOut); }, code(2), "not support VoDev = 1\n"},
        {[&] { return ZQ_MPI_VO_SetChnAttr(0, 4, nullptr); }, code(2),
         "not support VoLayer = 0 VoChn = 4\n"},
        {[&] { return ZQ_MPI_VO_SetChnAttr(1, 0, &chn); }, code(2),
         "not support VoLayer = 1 VoChn = 0\n"},
        {[&] { return ZQ_MPI_VO_EnableChn(0, -1); }, code(2),
         "not support VoLayer = 0 VoChn = -1\n"},
        {[&] { return ZQ_MPI_VO_SetChnAttr(0, 0, nullptr); }, code(6), "pstChnAttr is null\n"},
        {[&] { return ZQ_MPI_VO_SetChnCrop(0, 0, nullptr); }, code(6), "pstChnCrop is null\n"},
        {[&] { return ZQ_MPI_VO_GetChnCrop(0, 0, nullptr); }, code(6), "pstChnAttr is null\n"},
        {[&] { return ZQ_MPI_VO_SetChnCrop(0, 1, &farRight); }, code(3),
         "not support [353, 0, 352, 288]\n"},
        {[&] { return ZQ_MPI_VO_SetChnCrop(0, 1, &narrow); }, code(3),
         "not support [0, 0, 350, 288]\n"},
        {[&] { return ZQ_MPI_VO_SetChnCrop(0, 1, &negative); }, code(3),
         "not support [-1, 0, 352, 288]\n"},
        {[&] { return ZQ_MPI_VO_SetImageLayerAttr(1, nullptr); }, code(2),
         "not support VoLayer = 1\n"},
        {[&] { return ZQ_MPI_VO_SetImageLayerAttr(0, &layer); }, code(8),
         "not support enPixFormat = 9\n"},
        {[&] { return ZQ_MPI_VO_GetImageLayerAttr(2, &layerOut); }, code(2),
         "not support VoLayer = 2\n"},
        {[&] { return ZQ_MPI_VO_SetVideoLayerAttr(0, nullptr); }, code(6),
         "pstLayerAttr is null\n"},
    };
    for (const Row &row : rows) {
        std::string logBefore = log_text();
        EXPECT_EQ(row.call(), row.expected) << row.message;
        std::string added = log_text().substr(logBefore.size());
        EXPECT_NE(added.find(row.message), std::string::npos) << row.message << " in " << added;
    }
    EXPECT_EQ(journal_events("/dev/vo").size(), before);  // nothing reached the driver
    EXPECT_LT(log_text().find("enPixFormat[9]\n"), log_text().find("not support enPixFormat"));
    // Neither the rejected timing code nor the rejected type was kept.
    ASSERT_EQ(ZQ_MPI_VO_GetPubAttr(0, &pubOut), 0);
    EXPECT_EQ(pubOut.enIntfSync, 0);

    // An enabled crop of half the channel at its far corner fits; a disabled
    // crop is taken whatever its rectangle.
    VoChnCrop corner{1, {352, 288, 352, 288}}, off{0, {-9, -9, 1, 1}};
    EXPECT_EQ(ZQ_MPI_VO_SetChnCrop(0, 1, &corner), 0);
    EXPECT_EQ(ZQ_MPI_VO_SetChnCrop(0, 1, &off), 0);
}

TEST_F(VoTest, RefusedRequestsReportTheirCodesAndChangeNothingStored) {
    VoPubAttr pub = pub_attr(VO_SYNC_800X480), other = pub_attr(VO_SYNC_480X320, 0xFF);
    VoChnAttr chn{1, {0, 0, 704, 576}, 0}, otherChn{2, {4, 4, 100, 100}, 1};
    VoChnCrop crop{1, {0, 0, 352, 288}}, otherCrop{0, {1, 1, 1, 1}};
    VoImageLayerAttr layer{{0, 0, 8, 8}, VO_PIXFMT_ARGB8888, 0x1000, 0}, otherLayer = layer;
    otherLayer.u32PhyAddr = 0x2000;
    VoVideoLayerAttr video{};
    ASSERT_EQ(ZQ_MPI_VO_SetPubAttr(0, &pub), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetChnAttr(0, 3, &chn), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetChnCrop(0, 3, &crop), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetImageLayerAttr(0, &layer), 0);
    struct Row {
        unsigned long request;
        std::function<s32()> call;
        s32 expected;
        const char *message;
    } rows[] = {
        {ZQ_VO_SET_PUB_ATTR, [&] { return ZQ_MPI_VO_SetPubAttr(0, &other); }, code(0x40),
         "set bub attr error\n"},
        {ZQ_VO_SET_CHN_ATTR, [&] { return ZQ_MPI_VO_SetChnAttr(0, 3, &otherChn); }, code(0x4A),
         "set vo chn attr failed\n"},
        {ZQ_VO_SET_CHN_CROP, [&] { return ZQ_MPI_VO_SetChnCrop(0, 3, &otherCrop); }, code(0x4A),
         "set vo chn attr failed\n"},
        {ZQ_VO_ENABLE_CHN, [&] { return ZQ_MPI_VO_EnableChn(0, 3); }, code(0x12),
         "enable vo chn 3 failed\n"},
        {ZQ_VO_DISABLE_CHN, [&] { return ZQ_MPI_VO_DisableChn(0, 3); }, code(0x12),
         "disable vo chn 3 failed\n"},
        {ZQ_VO_SET_IMAGE_LAYER_ATTR, [&] { return ZQ_MPI_VO_SetImageLayerAttr(0, &otherLayer); },
         code(0x47), "set layer attr failed\n"},
        {ZQ_VO_ENABLE_IMAGE_LAYER, [&] { return ZQ_MPI_VO_EnableImageLayer(0); }, code(0x45),
         "enable volayer failed\n"},
        {ZQ_VO_DISABLE_IMAGE_LAYER, [&] { return ZQ_MPI_VO_DisableImageLayer(0); }, code(0x46),
         "enable volayer failed\n"},
        {ZQ_VO_SET_VIDEO_LAYER_ATTR, [&] { return ZQ_MPI_VO_SetVideoLayerAttr(0, &video); },
         code(0x47), "set video layer attr failed\n"},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(zq::sim::refuse_request(dir(), zq::sim::kVoDevice, row.request));
        std::string logBefore = log_text();
        EXPECT_EQ(row.call(), row.expected) << row.message;
        EXPECT_NE(log_text().find(row.message, logBefore.size()), std::string::npos) << row.message;
    }
    VoPubAttr pubOut{};
    VoChnAttr chnOut{};
    VoChnCrop cropOut{};
    VoImageLayerAttr layerOut{};
    ASSERT_EQ(ZQ_MPI_VO_GetPubAttr(0, &pubOut), 0);
    ASSERT_EQ(ZQ_MPI_VO_GetChnAttr(0, 3, &chnOut), 0);
    ASSERT_EQ(ZQ_MPI_VO_GetChnCrop(0, 3, &cropOut), 0);
    ASSERT_EQ(ZQ_MPI_VO_GetImageLayerAttr(0, &layerOut), 0);
    EXPECT_EQ(std::memcmp(&pubOut, &pub, sizeof pub), 0);
    EXPECT_EQ(std::memcmp(&chnOut, &chn, sizeof chn), 0);
    EXPECT_EQ(std::memcmp(&cropOut, &crop, sizeof crop), 0);
    EXPECT_EQ(std::memcmp(&layerOut, &layer, sizeof layer), 0);
}

TEST_F(VoTest, InitClearsTheAttributesButKeepsCrops) {
    VoPubAttr pub = pub_attr(VO_SYNC_800X480);
    VoChnAttr chn{1, {0, 0, 704, 576}, 0};
    VoChnCrop crop{1, {0, 0, 352, 288}};
    VoImageLayerAttr layer{{0, 0, 8, 8}, VO_PIXFMT_ARGB1555, 0x1000, 3};
    ASSERT_EQ(ZQ_MPI_VO_SetPubAttr(0, &pub), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetChnAttr(0, 0, &chn), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetChnCrop(0, 0, &crop), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetImageLayerAttr(0, &layer), 0);
    VoImageLayerAttr layerOut{};
    ASSERT_EQ(ZQ_MPI_VO_GetImageLayerAttr(0, &layerOut), 0);  // filled, not left alone
    EXPECT_EQ(std::memcmp(&layerOut, &layer, sizeof layer), 0);

    ASSERT_EQ(ZQ_MPI_VO_Init(), 0);
    VoPubAttr pubOut{};
    VoChnAttr chnOut{};
    VoChnCrop cropOut{};
    ASSERT_EQ(ZQ_MPI_VO_GetPubAttr(0, &pubOut), 0);
    ASSERT_EQ(ZQ_MPI_VO_GetChnAttr(0, 0, &chnOut), 0);
    ASSERT_EQ(ZQ_MPI_VO_GetChnCrop(0, 0, &cropOut), 0);
    ASSERT_EQ(ZQ_MPI_VO_GetImageLayerAttr(0, &layerOut), 0);
    EXPECT_EQ(pubOut.u32BgColor | pubOut.enIntfSync, 0u);
    EXPECT_EQ(chnOut.stRect.u32Width, 0u);
    EXPECT_EQ(layerOut.u32PhyAddr, 0u);
    EXPECT_EQ(std::memcmp(&cropOut, &crop, sizeof crop), 0);
}

// Descriptors of this process open on the board's "dev/vo".
int open_vo_descriptors(const std::string &node) {
    int n = 0;
    DIR *fds = opendir("/proc/self/fd");
    while (dirent *e = fds ? readdir(fds) : nullptr) {
        char target[PATH_MAX] = {};
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 && node == target) ++n;
    }
    if (fds) closedir(fds);
    return n;
}

class VoFreshTest : public VBoardTest {};

TEST_F(VoFreshTest, MissingDeviceIsTriedAgainAndRacingInitsKeepOneDescriptor) {
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), zq::sim::kVoDevice, true));
    EXPECT_EQ(ZQ_MPI_VO_Init(), code(0x10));
    EXPECT_NE(log_text().find("/dev/vo open failed\n"), std::string::npos);
    // Without the device every request fails, reported as refused.
    VoPubAttr pub = pub_attr(VO_SYNC_800X480);
    EXPECT_EQ(ZQ_MPI_VO_SetPubAttr(0, &pub), code(0x40));
    EXPECT_EQ(ZQ_MPI_VO_EnableChn(0, 0), code(0x12));

    ASSERT_TRUE(zq::sim::set_device_missing(dir(), zq::sim::kVoDevice, false));
    std::vector<std::thread> threads;
    s32 results[4] = {-1, -1, -1, -1};
    for (s32 &r : results) threads.emplace_back([&r] { r = ZQ_MPI_VO_Init(); });
    for (std::thread &t : threads) t.join();
    for (s32 r : results) EXPECT_EQ(r, 0);
    EXPECT_EQ(open_vo_descriptors(zq::sim::resolve(zq::sim::kVoDevice)), 1);
    EXPECT_EQ(ZQ_MPI_VO_SetPubAttr(0, &pub), 0);
}

}  // namespace
