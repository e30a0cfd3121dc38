// The region family: the records the driver gets, argument checks with their
// codes, and a kept table that never disagrees with the driver.
#include "emul/rgn.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>
#include <utility>

#include "emul/board.h"
#include "support/call_rows.h"
#include "support/vboard_fixture.h"
#include "zq_rgn.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kBadHandle = s32(0xA0128002), kOutOfRange = s32(0xA0128003);
constexpr s32 kCreateRefused = s32(0xA0128004), kNotChanged = s32(0xA0128005);
constexpr s32 kNull = s32(0xA0128006), kBitmapRefused = s32(0xA0128007);
constexpr s32 kOpenFailed = s32(0xA0128010), kDestroyRefused = s32(0xA0128012);

// The requests that reached the driver: code and record bytes.
using Requests = std::vector<std::pair<unsigned long, std::vector<u8>>>;
Requests g_seen;

void tap(unsigned long code, const void *record, size_t size) {
    auto *bytes = static_cast<const u8 *>(record);
    g_seen.push_back({code, std::vector<u8>(bytes, bytes + size)});
}

// The bytes of a record of 32-bit words, the pointer (when given) at word
// pointerAt taking its own width.
std::vector<u8> words(std::vector<u32> w, const void *pointer = nullptr, size_t pointerAt = 0) {
    std::vector<u8> out;
    auto put = [&](const void *p, size_t n) {
        out.insert(out.end(), static_cast<const u8 *>(p), static_cast<const u8 *>(p) + n);
    };
    for (size_t i = 0; i < w.size(); ++i) {
        if (pointer && i == pointerAt) put(&pointer, sizeof pointer);
        put(&w[i], 4);
    }
    if (pointer) out.resize((out.size() + sizeof pointer - 1) / sizeof pointer * sizeof pointer);
    return out;
}

RgnAttr osd(u32 handle, s32 x, s32 y, u32 w, u32 h, u32 format = 2, u32 colorMap = 0x11,
            u32 effect = 0x22) {
    RgnAttr a{handle, ZQ_RGN_OSD, {}};
    a.unAttr.stOsd = {colorMap, effect, format, {x, y, w, h}};
    return a;
}

RgnAttr cover(u32 handle, s32 x, s32 y, u32 w, u32 h, u32 color = 0xFF0000, u32 effect = 0) {
    RgnAttr a{handle, ZQ_RGN_COVER, {}};
    a.unAttr.stCover = {color, effect, {x, y, w, h}, 0};
    return a;
}

bool same(const RgnAttr &a, const RgnAttr &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class RgnTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        g_seen.clear();
        sim::set_rgn_request_tap(tap);
    }
    void TearDown() override {
        sim::set_rgn_request_tap(nullptr);
        VBoardTest::TearDown();
    }
    RgnAttr kept(s32 chn, u32 handle, s32 type) {
        RgnAttr a{handle, type, {}};
        EXPECT_EQ(ZQ_MPI_RGN_GetAttr(chn, &a), 0);
        return a;
    }
};

TEST_F(RgnTest, EveryCallHandsTheDriverItsRecordByteForByte) {
    auto sends = [](const char *call, s32 rc, const Requests &want) {
        EXPECT_EQ(rc, 0) << call;
        EXPECT_EQ(g_seen, want) << call;
        g_seen.clear();
    };
    RgnPallet palette{};
    std::vector<u32> paletteWords{1};  // the channel, then the colours
    for (u32 i = 0; i < 16; ++i) paletteWords.push_back(palette.au32Color[i] = 0xFF000000u | i);
    static u8 pixels[2];
    const RgnAttr o = osd(7, -3, 4, 100, 20), c = cover(31, 5, -6, 40, 30, 0xABCDEF, 9);
    RgnBitmap odd{7, 3, 3, 0, pixels};  // 9 bits: 2 bytes
    const u32 minus3 = u32(-3), minus6 = u32(-6);
    sends("init", ZQ_MPI_RGN_Init(), {{0x5201, {}}});
    sends("palette", ZQ_MPI_RGN_SetPallet(1, &palette), {{0x4044520B, words(paletteWords)}});
    sends("osd create", ZQ_MPI_RGN_Create(0, &o),
          {{0x40145202, words({0, 7, 100, 20, 2})},
           {0x40185204, words({0, 7, minus3, 4, 0x11, 0x22})}});
    sends("bitmap 1 bit", ZQ_MPI_RGN_SetBitMap(0, &odd),
          {{ZQ_RGN_REQ_OSD_SET_BITMAP, words({0, 7, 2}, pixels, 2)}});
    sends("cover create", ZQ_MPI_RGN_Create(2, &c),
          {{0x40205207, words({2, 31, 40, 30, 5, minus6, 0xABCDEF, 9})},
           {0x40205209, words({2, 31, 40, 30, 5, minus6, 0xABCDEF, 9})}});
    sends("cover destroy", ZQ_MPI_RGN_Destroy(2, &c),
          {{0x40205208, words({2, 31, 0, 0, 0, 0, 0, 0})}});
    sends("osd destroy", ZQ_MPI_RGN_Destroy(0, &o), {{0x40145203, words({0, 7, 0, 0, 0})}});
    EXPECT_EQ(count_of(sim::read_board_file(dir(), "/journal"), "/dev/rgn open"), 1u);
}

TEST_F(RgnTest, BadArgumentsAreRefusedInOrderBeforeAnyRequest) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/rgn", true));
    EXPECT_EQ(ZQ_MPI_RGN_Create(9, nullptr), kOpenFailed);  // the device comes first
    EXPECT_EQ(ZQ_MPI_RGN_Init(), kOpenFailed);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/rgn", false));  // tried again
    static const u8 pixels[4] = {};
    auto create = [](s32 chn, RgnAttr a) { return ZQ_MPI_RGN_Create(chn, &a); };
    auto bitmap = [](s32 chn, u32 handle, u32 w, u32 h, u32 f, const void *data) {
        RgnBitmap b{handle, w, h, f, data};
        return ZQ_MPI_RGN_SetBitMap(chn, &b);
    };
    RgnAttr badType = osd(0, 0, 0, 1, 1);
    badType.enType = 2;
    const std::tuple<const char *, std::function<s32()>, s32> rows[] = {
        {CALL(create(3, badType)), kOutOfRange},
        {CALL(ZQ_MPI_RGN_Create(0, nullptr)), kNull},
        {CALL(create(0, osd(8, 0, 0, 1, 1))), kBadHandle},
        {CALL(create(0, cover(32, 0, 0, 1, 1))), kBadHandle},
        {CALL(ZQ_MPI_RGN_SetAttr(0, &badType)), kOutOfRange},
        {CALL(ZQ_MPI_RGN_Enable(0, 0, 5)), kOutOfRange},
        {CALL(ZQ_MPI_RGN_Disable(0, 0, 5)), kOutOfRange},
        {CALL(ZQ_MPI_RGN_Disable(-2, 0, ZQ_RGN_OSD)), kOutOfRange},
        {CALL(ZQ_MPI_RGN_SetPallet(3, nullptr)), kOutOfRange},
        {CALL(ZQ_MPI_RGN_SetPallet(0, nullptr)), kNull},
        {CALL(ZQ_MPI_RGN_SetBitMap(9, nullptr)), kNull},
        {CALL(bitmap(9, 0, 1, 1, 0, nullptr)), kNull},
        {CALL(bitmap(0, 0, 4097, 1, 0, pixels)), kOutOfRange},
        {CALL(bitmap(0, 0, 1, 1, 3, pixels)), kOutOfRange},
        {CALL(bitmap(-1, 9, 1, 1, 0, pixels)), kOutOfRange},
        {CALL(bitmap(0, 8, 1, 1, 0, pixels)), kBadHandle},
    };
    for (const auto &[call, run, result] : rows) EXPECT_EQ(run(), result) << call;
    EXPECT_TRUE(g_seen.empty());
}

// A refused call changes no state: the kept record is what the driver has.
TEST_F(RgnTest, RefusedCallsLeaveTheKeptRecordAsTheDriverHasIt) {
    const RgnAttr o = osd(2, 10, 20, 8, 8), c = cover(3, 1, 2, 3, 4);
    const RgnAttr oMoved = osd(2, 30, 40, 99, 99, 0, 0x5, 0x6), cMoved = cover(3, 9, 9, 9, 9);
    const RgnAttr oNew = osd(5, 1, 1, 4, 4), cNew = cover(5, 1, 1, 4, 4);
    ASSERT_EQ(ZQ_MPI_RGN_Create(1, &o), 0);
    ASSERT_EQ(ZQ_MPI_RGN_Create(1, &c), 0);
    static const u8 pixels[32] = {};
    const RgnBitmap b{2, 8, 8, 2, pixels};
    const RgnPallet palette{};
    // From here each request is refused once, the attributes twice.
    for (unsigned long request :
         {ZQ_RGN_REQ_OSD_SET_ATTR, ZQ_RGN_REQ_OSD_SET_ATTR, ZQ_RGN_REQ_COVER_SET_ATTR,
          ZQ_RGN_REQ_COVER_SET_ATTR, ZQ_RGN_REQ_OSD_DESTROY, ZQ_RGN_REQ_COVER_DESTROY,
          ZQ_RGN_REQ_OSD_SHOW, ZQ_RGN_REQ_COVER_SHOW, ZQ_RGN_REQ_SET_PALLET,
          ZQ_RGN_REQ_OSD_SET_BITMAP})
        ASSERT_TRUE(sim::refuse_request(dir(), "/dev/rgn", request, 0, 1));
    const std::tuple<const char *, std::function<s32()>, s32> rows[] = {
        {CALL(ZQ_MPI_RGN_SetAttr(1, &oMoved)), kNotChanged},
        {CALL(ZQ_MPI_RGN_SetAttr(1, &cMoved)), kNotChanged},
        {CALL(ZQ_MPI_RGN_Destroy(1, &o)), kDestroyRefused},
        {CALL(ZQ_MPI_RGN_Destroy(1, &c)), kDestroyRefused},
        {CALL(ZQ_MPI_RGN_Create(1, &o)), kCreateRefused},  // they exist
        {CALL(ZQ_MPI_RGN_Create(1, &cMoved)), kCreateRefused},
        // The second request of a create refused: the new region is taken back.
        {CALL(ZQ_MPI_RGN_Create(1, &oNew)), kNotChanged},
        {CALL(ZQ_MPI_RGN_Create(1, &cNew)), kNotChanged},
        {CALL(ZQ_MPI_RGN_Enable(1, 2, ZQ_RGN_OSD)), kNotChanged},
        {CALL(ZQ_MPI_RGN_Disable(1, 3, ZQ_RGN_COVER)), kNotChanged},
        {CALL(ZQ_MPI_RGN_SetPallet(1, &palette)), kCreateRefused},
        {CALL(ZQ_MPI_RGN_SetBitMap(1, &b)), kBitmapRefused},
    };
    for (const auto &[call, run, result] : rows) {
        EXPECT_EQ(run(), result) << call;
        EXPECT_TRUE(same(kept(1, 2, ZQ_RGN_OSD), o)) << call;
        EXPECT_TRUE(same(kept(1, 3, ZQ_RGN_COVER), c)) << call;
    }
    const sim::RgnChannel driver = sim::read_regions(dir()).channels[1];
    EXPECT_FALSE(driver.overlays[5].exists);
    EXPECT_FALSE(driver.covers[5].exists);
    EXPECT_TRUE(same(kept(1, 5, ZQ_RGN_OSD), RgnAttr{}));  // a slot never made reads as zeros
    EXPECT_TRUE(same(kept(1, 5, ZQ_RGN_COVER), RgnAttr{}));
    // Accepted: an overlay keeps the size and format it was created with.
    ASSERT_EQ(ZQ_MPI_RGN_SetAttr(1, &oMoved), 0);
    EXPECT_TRUE(same(kept(1, 2, ZQ_RGN_OSD), osd(2, 30, 40, 8, 8, 2, 0x5, 0x6)));
    ASSERT_EQ(ZQ_MPI_RGN_Destroy(1, &o), 0);
    EXPECT_TRUE(same(kept(1, 2, ZQ_RGN_OSD), RgnAttr{}));
}

}  // namespace
