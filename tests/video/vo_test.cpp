// The video output family on a virtual board's "/dev/vo".

#include "emul/vo.h"

#include <cstring>
#include <functional>
#include <tuple>

#include "emul/board.h"
#include "support/call_rows.h"
#include "support/vboard_fixture.h"
#include "zq_vo.h"

namespace {

using zq::sim::VoDriverState;

constexpr s32 code(u32 error) {
    return static_cast<s32>(0xA00F8000u + error);
}

using Words = std::vector<u32>;

template <typename Record>
Words words(const Record &record) {
    Words out(sizeof record / 4);
    std::memcpy(out.data(), &record, sizeof record);
    return out;
}

VoPubAttr pub_attr(s32 sync, u32 background = 0x123456) {
    return {background, VO_INTF_LCD, sync, {}};
}

// A user timing: active size, mode, timings 0 to 2 (1, 2, 3, 4, 5, 6 in the
// record's order) and reserved fields the driver is not given.
VoPubAttr user_timing(u16 width, u16 height, u8 mode) {
    return {0xABCDEF,
            VO_INTF_LCD,
            VO_SYNC_USER,
            {0xDDDDDDDD, 0, mode, 0, height, 4, 3, width, 2, 1, {0xEEEE, 0, 0, 0}, 5, 6, 0, {}}};
}

class VoTest : public VBoardTest {
  protected:
    VoDriverState driver() const { return zq::sim::read_vo_state(dir()); }
};

TEST_F(VoTest, RequestRecordsReachTheDriverByteForByte) {
    ASSERT_EQ(ZQ_MPI_VO_Init(), 0);
    const std::pair<VoPubAttr, Words> timings[] = {
        {pub_attr(VO_SYNC_480X272_ALT),
         {0, 16, 50, 16, 32, 0, 0x10000, 0x123456, 530, 287, 479, 271}},
        {pub_attr(VO_SYNC_800X480), {0, 9, 13, 8, 12, 0, 0, 0x123456, 815, 495, 799, 479}},
        {user_timing(800, 480, 8), {0, 1, 2, 3, 4, 0, 0x10000, 0xABCDEF, 5, 6, 799, 479}},
        {user_timing(800, 480, 0), {0, 1, 2, 3, 4, 0, 0, 0xABCDEF, 5, 6, 799, 479}},
    };
    for (const auto &[attr, expected] : timings) {
        ASSERT_EQ(ZQ_MPI_VO_SetPubAttr(0, &attr), 0) << attr.enIntfSync;
        EXPECT_EQ(words(driver().timing), expected) << attr.enIntfSync;
    }

    VoChnAttr chn{7, {-4, 8, 704, 576}, 1};
    VoChnCrop crop{1, {352, 288, 352, 288}};
    VoImageLayerAttr layer{{10, -2, 64, 32}, VO_PIXFMT_ARGB1555, 0x90001000, 0x5};
    VoVideoLayerAttr video{{1, 2, 3, 4}, 0x55, 0x66};
    VoDriverState d;  // the driver's state after each call
    auto *c = d.channels;
    // Each call, and the words the driver then keeps at a place in d. (The
    // channels' switches and the ARGB8888 layer show in the composed display.)
    const std::tuple<const char *, std::function<s32()>, const void *, Words> setters[] = {
        {CALL(ZQ_MPI_VO_SetChnAttr(0, 2, &chn)), &c[2].rect, {2, 704, u32(-4), 8, 704, 576}},
        {CALL(ZQ_MPI_VO_SetChnCrop(0, 2, &crop)), &c[2].crop, {2, 1, 352, 288, 352, 288}},
        {CALL(ZQ_MPI_VO_SetImageLayerAttr(0, &layer)),
         &d.layer,
         {0, 0x90001000, 10, u32(-2), 64, 32, 5}},
        {CALL(ZQ_MPI_VO_SetVideoLayerAttr(9, &video)), &d.videoLayer, {0x55, 0x66, 0, 0}},
        {CALL(ZQ_MPI_VO_EnableImageLayer(0)), &d.layerEnabled, {1}},
        {CALL(ZQ_MPI_VO_DisableImageLayer(0)), &d.layerEnabled, {0}},
    };
    for (const auto &[call, run, kept, expected] : setters) {
        ASSERT_EQ(run(), 0) << call;
        d = driver();
        Words now(expected.size());
        std::memcpy(now.data(), kept, now.size() * 4);
        EXPECT_EQ(now, expected) << call;
    }
}

TEST_F(VoTest, ArgumentsAreCheckedInOrderAndSendNothing) {
    VoPubAttr pub = pub_attr(VO_SYNC_800X480), badType = pub, badSync = pub_attr(35),
              noHeight = user_timing(800, 0, 0);
    badType.enIntfType = 1;
    VoChnAttr chn{0, {0, 0, 704, 576}, 0};
    VoChnCrop farRight{1, {353, 0, 352, 288}}, narrow{1, {0, 0, 350, 288}};
    VoImageLayerAttr layer{{0, 0, 8, 8}, 9, 0, 0}, layerOut{};
    VoPubAttr pubOut{};
    ASSERT_EQ(ZQ_MPI_VO_Init(), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetChnAttr(0, 1, &chn), 0);
    const size_t before = journal_events("/dev/vo").size();
    const std::tuple<const char *, std::function<s32()>, s32> rows[] = {
        {CALL(ZQ_MPI_VO_SetPubAttr(1, nullptr)), code(2)},
        {CALL(ZQ_MPI_VO_SetPubAttr(0, nullptr)), code(6)},
        {CALL(ZQ_MPI_VO_SetPubAttr(0, &badType)), code(8)},
        {CALL(ZQ_MPI_VO_SetPubAttr(0, &badSync)), code(8)},
        {CALL(ZQ_MPI_VO_SetPubAttr(0, &noHeight)), code(8)},
        {CALL(ZQ_MPI_VO_GetPubAttr(1, nullptr)), code(6)},
        {CALL(ZQ_MPI_VO_GetPubAttr(1, &pubOut)), code(2)},
        {CALL(ZQ_MPI_VO_SetChnAttr(0, 4, nullptr)), code(2)},
        {CALL(ZQ_MPI_VO_EnableChn(0, -1)), code(2)},
        {CALL(ZQ_MPI_VO_SetChnAttr(0, 0, nullptr)), code(6)},
        {CALL(ZQ_MPI_VO_SetChnCrop(0, 0, nullptr)), code(6)},
        {CALL(ZQ_MPI_VO_GetChnCrop(0, 0, nullptr)), code(6)},
        {CALL(ZQ_MPI_VO_SetChnCrop(0, 1, &farRight)), code(3)},
        {CALL(ZQ_MPI_VO_SetChnCrop(0, 1, &narrow)), code(3)},
        {CALL(ZQ_MPI_VO_SetImageLayerAttr(1, nullptr)), code(2)},
        {CALL(ZQ_MPI_VO_SetImageLayerAttr(0, &layer)), code(8)},
        {CALL(ZQ_MPI_VO_GetImageLayerAttr(2, &layerOut)), code(2)},
        {CALL(ZQ_MPI_VO_SetVideoLayerAttr(0, nullptr)), code(6)},
    };
    for (const auto &[call, run, result] : rows) EXPECT_EQ(run(), result) << call;
    EXPECT_EQ(journal_events("/dev/vo").size(), before);  // nothing reached the driver
    // Neither the rejected timing code nor the rejected type was kept.
    ASSERT_EQ(ZQ_MPI_VO_GetPubAttr(0, &pubOut), 0);
    EXPECT_EQ(pubOut.enIntfSync, 0);
    VoChnCrop off{0, {-9, -9, 1, 1}};  // a disabled crop is taken whatever its rectangle
    EXPECT_EQ(ZQ_MPI_VO_SetChnCrop(0, 1, &off), 0);
}

// Without the device (tried again by the next Init) and when the driver
// refuses, each call reports its code and changes nothing stored; the Get
// operations fill the caller's record with what the driver last took.
TEST_F(VoTest, MissingOrRefusingDriverChangesNothingStored) {
    VoPubAttr pub = pub_attr(VO_SYNC_800X480), other = pub_attr(VO_SYNC_480X320, 0xFF);
    VoChnAttr chn{1, {0, 0, 704, 576}, 0}, otherChn{2, {4, 4, 100, 100}, 1};
    VoChnCrop crop{1, {0, 0, 352, 288}}, otherCrop{0, {1, 1, 1, 1}};
    VoImageLayerAttr layer{{0, 0, 8, 8}, VO_PIXFMT_ARGB8888, 0x1000, 0}, otherLayer = layer;
    otherLayer.u32PhyAddr = 0x2000;
    VoVideoLayerAttr video{};
    const std::tuple<unsigned long, const char *, std::function<s32()>, s32> rows[] = {
        {ZQ_VO_SET_PUB_ATTR, CALL(ZQ_MPI_VO_SetPubAttr(0, &other)), code(0x40)},
        {ZQ_VO_SET_CHN_ATTR, CALL(ZQ_MPI_VO_SetChnAttr(0, 3, &otherChn)), code(0x4A)},
        {ZQ_VO_SET_CHN_CROP, CALL(ZQ_MPI_VO_SetChnCrop(0, 3, &otherCrop)), code(0x4A)},
        {ZQ_VO_ENABLE_CHN, CALL(ZQ_MPI_VO_EnableChn(0, 3)), code(0x12)},
        {ZQ_VO_DISABLE_CHN, CALL(ZQ_MPI_VO_DisableChn(0, 3)), code(0x12)},
        {ZQ_VO_SET_IMAGE_LAYER_ATTR, CALL(ZQ_MPI_VO_SetImageLayerAttr(0, &otherLayer)), code(0x47)},
        {ZQ_VO_ENABLE_IMAGE_LAYER, CALL(ZQ_MPI_VO_EnableImageLayer(0)), code(0x45)},
        {ZQ_VO_DISABLE_IMAGE_LAYER, CALL(ZQ_MPI_VO_DisableImageLayer(0)), code(0x46)},
        {ZQ_VO_SET_VIDEO_LAYER_ATTR, CALL(ZQ_MPI_VO_SetVideoLayerAttr(0, &video)), code(0x47)},
    };
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), zq::sim::kVoDevice, true));
    EXPECT_EQ(ZQ_MPI_VO_Init(), code(0x10));
    for (const auto &[request, call, run, result] : rows) EXPECT_EQ(run(), result) << call;
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), zq::sim::kVoDevice, false));
    ASSERT_EQ(ZQ_MPI_VO_Init(), 0);

    ASSERT_EQ(ZQ_MPI_VO_SetPubAttr(0, &pub), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetChnAttr(0, 3, &chn), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetChnCrop(0, 3, &crop), 0);
    ASSERT_EQ(ZQ_MPI_VO_SetImageLayerAttr(0, &layer), 0);
    for (const auto &[request, call, run, result] : rows) {
        ASSERT_TRUE(zq::sim::refuse_request(dir(), zq::sim::kVoDevice, request));
        EXPECT_EQ(run(), result) << call;
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

}  // namespace
