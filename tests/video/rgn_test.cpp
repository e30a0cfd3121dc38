// The region family: the records the driver gets, argument checks with their
// lines and codes, and a kept table that never disagrees with the driver.
#include <json-c/json.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include "board.h"
#include "json_util.h"
#include "rgn_state.h"
#include "support/vboard_fixture.h"
#include "zq_rgn.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kBadHandle = s32(0xA0128002), kOutOfRange = s32(0xA0128003);
constexpr s32 kCreateRefused = s32(0xA0128004), kNotChanged = s32(0xA0128005);
constexpr s32 kNull = s32(0xA0128006), kBitmapRefused = s32(0xA0128007);
constexpr s32 kOpenFailed = s32(0xA0128010), kDestroyRefused = s32(0xA0128012);

struct Seen {
    unsigned long code;
    std::vector<u8> bytes;
};
std::vector<Seen> g_seen;

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
    RgnAttr a{};
    a.u32Handle = handle;
    a.enType = ZQ_RGN_OSD;
    a.unAttr.stOsd = {colorMap, effect, format, {x, y, w, h}};
    return a;
}

RgnAttr cover(u32 handle, s32 x, s32 y, u32 w, u32 h, u32 color = 0xFF0000, u32 effect = 0) {
    RgnAttr a{};
    a.u32Handle = handle;
    a.enType = ZQ_RGN_COVER;
    a.unAttr.stCover = {color, effect, {x, y, w, h}, 0};
    return a;
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
        RgnAttr a{};
        a.u32Handle = handle;
        a.enType = type;
        EXPECT_EQ(ZQ_MPI_RGN_GetAttr(chn, &a), 0);
        return a;
    }
    void refuse_only(unsigned long request) {
        ASSERT_TRUE(sim::edit_board(dir(), [](json_object *root) {
            json_object_object_del(sim::json_get(root, "faults"), "refuse");
        }));
        if (request) {
            ASSERT_TRUE(sim::refuse_request(dir(), "/dev/rgn", request));
        }
    }
};

bool same(const RgnAttr &a, const RgnAttr &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(RgnTest, EveryCallHandsTheDriverItsRecordByteForByte) {
    RgnPallet palette{};
    for (u32 i = 0; i < 16; ++i) palette.au32Color[i] = 0xFF000000u | i;
    std::vector<u32> paletteWords{1};
    paletteWords.insert(paletteWords.end(), palette.au32Color, palette.au32Color + 16);
    static u8 pixels[1000];
    const RgnAttr o = osd(7, -3, 4, 100, 20), c = cover(31, 5, -6, 40, 30, 0xABCDEF, 9);
    const RgnAttr o2 = osd(7, 8, 9, 1, 1, 0, 0x33, 0x44), c2 = cover(31, 1, 2, 3, 4, 0x12, 5);
    auto bitmap = [](u32 w, u32 h, u32 format) {
        RgnBitmap b{7, w, h, format, pixels};
        return ZQ_MPI_RGN_SetBitMap(0, &b);
    };
    const u32 minus3 = u32(-3), minus6 = u32(-6);
    struct Row {
        const char *call;
        std::function<s32()> run;
        std::vector<Seen> requests;
    } rows[] = {
        {"init", [] { return ZQ_MPI_RGN_Init(); }, {{0x5201, {}}}},
        {"palette",
         [&] { return ZQ_MPI_RGN_SetPallet(1, &palette); },
         {{0x4044520B, words(paletteWords)}}},
        {"osd create",
         [&] { return ZQ_MPI_RGN_Create(0, &o); },
         {{0x40145202, words({0, 7, 100, 20, 2})},
          {0x40185204, words({0, 7, minus3, 4, 0x11, 0x22})}}},
        {"osd set attr",
         [&] { return ZQ_MPI_RGN_SetAttr(0, &o2); },
         {{0x40185204, words({0, 7, 8, 9, 0x33, 0x44})}}},
        {"bitmap 100x20 4 bits",
         [&] { return bitmap(100, 20, 2); },
         {{ZQ_RGN_REQ_OSD_SET_BITMAP, words({0, 7, 1000}, pixels, 2)}}},
        {"bitmap 100x20 1 bit",
         [&] { return bitmap(100, 20, 0); },
         {{ZQ_RGN_REQ_OSD_SET_BITMAP, words({0, 7, 250}, pixels, 2)}}},
        {"bitmap 3x3 1 bit",
         [&] { return bitmap(3, 3, 0); },
         {{ZQ_RGN_REQ_OSD_SET_BITMAP, words({0, 7, 2}, pixels, 2)}}},
        {"osd show",
         [] { return ZQ_MPI_RGN_Enable(0, 7, ZQ_RGN_OSD); },
         {{0x400C5206, words({0, 7, 1})}}},
        {"osd hide",
         [] { return ZQ_MPI_RGN_Disable(0, 7, ZQ_RGN_OSD); },
         {{0x400C5206, words({0, 7, 0})}}},
        {"cover create",
         [&] { return ZQ_MPI_RGN_Create(2, &c); },
         {{0x40205207, words({2, 31, 40, 30, 5, minus6, 0xABCDEF, 9})},
          {0x40205209, words({2, 31, 40, 30, 5, minus6, 0xABCDEF, 9})}}},
        {"cover set attr",
         [&] { return ZQ_MPI_RGN_SetAttr(2, &c2); },
         {{0x40205209, words({2, 31, 3, 4, 1, 2, 0x12, 5})}}},
        {"cover show",
         [] { return ZQ_MPI_RGN_Enable(2, 31, ZQ_RGN_COVER); },
         {{0x400C520A, words({2, 31, 1})}}},
        {"cover hide",
         [] { return ZQ_MPI_RGN_Disable(2, 31, ZQ_RGN_COVER); },
         {{0x400C520A, words({2, 31, 0})}}},
        {"cover destroy",
         [&] { return ZQ_MPI_RGN_Destroy(2, &c2); },
         {{0x40205208, words({2, 31, 0, 0, 0, 0, 0, 0})}}},
        {"osd destroy",
         [&] { return ZQ_MPI_RGN_Destroy(0, &o2); },
         {{0x40145203, words({0, 7, 0, 0, 0})}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.call);
        g_seen.clear();
        EXPECT_EQ(row.run(), 0);
        ASSERT_EQ(g_seen.size(), row.requests.size());
        for (size_t i = 0; i < g_seen.size(); ++i) {
            EXPECT_EQ(g_seen[i].code, row.requests[i].code);
            EXPECT_EQ(g_seen[i].bytes, row.requests[i].bytes);
        }
    }
    EXPECT_EQ(count_of(sim::read_board_file(dir(), "/journal"), "/dev/rgn open"), 1u);
}

TEST_F(RgnTest, BadArgumentsAreRefusedInOrderBeforeAnyRequest) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/rgn", true));
    RgnAttr bad = osd(0, 0, 0, 1, 1);
    EXPECT_EQ(ZQ_MPI_RGN_Create(9, nullptr), kOpenFailed);  // the device comes first
    EXPECT_EQ(ZQ_MPI_RGN_Init(), kOpenFailed);
    EXPECT_EQ(count_of(log_text(), "<3>rgn open /dev/rgn failed\n\n"), 2u);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/rgn", false));  // tried again
    static const u8 pixels[4] = {};
    auto create = [](s32 chn, RgnAttr a) { return ZQ_MPI_RGN_Create(chn, &a); };
    auto bitmap = [](s32 chn, u32 handle, u32 w, u32 h, u32 f, const void *data) {
        RgnBitmap b{handle, w, h, f, data};
        return ZQ_MPI_RGN_SetBitMap(chn, &b);
    };
    struct Row {
        std::function<s32()> run;
        s32 rc;
        const char *line;
    } rows[] = {
        {[&] { return create(3, bad); }, kOutOfRange, "not support ViChn = 3\n"},
        {[&] { return create(-1, bad); }, kOutOfRange, "not support ViChn = -1\n"},
        {[] { return ZQ_MPI_RGN_Create(0, nullptr); }, kNull, "pstRegion is null\n"},
        {[] { return ZQ_MPI_RGN_GetAttr(0, nullptr); }, kNull, "pstRegion is null\n"},
        {[&] { return create(0, osd(8, 0, 0, 1, 1)); }, kBadHandle, "not support Handle = 8\n"},
        {[&] { return create(0, cover(32, 0, 0, 1, 1)); }, kBadHandle, "not support Handle = 32\n"},
        {[&] {
             bad.enType = 2;
             return ZQ_MPI_RGN_SetAttr(0, &bad);
         },
         kOutOfRange, "unknown enType 2\n"},
        {[] { return ZQ_MPI_RGN_Enable(0, 0, 5); }, kOutOfRange, " unknown enType 5\n"},
        {[] { return ZQ_MPI_RGN_Disable(0, 0, 5); }, kOutOfRange, "unknown enType 5\n"},
        {[] { return ZQ_MPI_RGN_Enable(0, 8, ZQ_RGN_OSD); }, kBadHandle,
         "not support Handle = 8\n"},
        {[] { return ZQ_MPI_RGN_Disable(-2, 0, ZQ_RGN_OSD); }, kOutOfRange,
         "not support ViChn = -2\n"},
        {[] { return ZQ_MPI_RGN_SetPallet(0, nullptr); }, kNull, "pstPallet is null\n"},
        {[] { return ZQ_MPI_RGN_SetPallet(3, nullptr); }, kOutOfRange, "not support ViChn = 3\n"},
        {[] { return ZQ_MPI_RGN_SetBitMap(9, nullptr); }, kNull, "pointer is NULL"},
        {[&] { return bitmap(9, 0, 1, 1, 0, nullptr); }, kNull, "pointer is NULL"},
        {[&] { return bitmap(0, 0, 4097, 1, 0, pixels); }, kOutOfRange,
         "ILLEGAL_PARAM ch:0 w:4097 h:1 f:0\n"},
        {[&] { return bitmap(0, 0, 1, 4097, 0, pixels); }, kOutOfRange,
         "ILLEGAL_PARAM ch:0 w:1 h:4097 f:0\n"},
        {[&] { return bitmap(0, 0, 1, 1, 3, pixels); }, kOutOfRange,
         "ILLEGAL_PARAM ch:0 w:1 h:1 f:3\n"},
        {[&] { return bitmap(-1, 0, 1, 1, 0, pixels); }, kOutOfRange,
         "ILLEGAL_PARAM ch:-1 w:1 h:1 f:0\n"},
        {[&] { return bitmap(0, 8, 1, 1, 0, pixels); }, kBadHandle, "not support Handle = 8\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(row.run(), row.rc);
        const std::string text = log_text(), last = std::string("<3>rgn ") + row.line + "\n";
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), last.size())), last);
    }
    EXPECT_TRUE(g_seen.empty());
    RgnAttr never = osd(5, 1, 1, 1, 1);  // a slot never created reads as zeros
    EXPECT_EQ(ZQ_MPI_RGN_GetAttr(1, &never), 0);
    EXPECT_TRUE(same(never, RgnAttr{}));
}

TEST_F(RgnTest, CallsAreTracedWithTheirArguments) {
    ASSERT_TRUE(sim::set_log_levels(dir(), {{"rgn", 6}}));
    freeze_clock(5);
    const RgnAttr o = osd(1, -2, 3, 16, 8, 1, 0xAB, 0xC), c = cover(4, 5, 6, 7, 8, 0xFF00, 1);
    RgnPallet palette{};
    EXPECT_EQ(ZQ_MPI_RGN_Init(), 0);
    EXPECT_EQ(ZQ_MPI_RGN_SetPallet(2, &palette), 0);
    EXPECT_EQ(ZQ_MPI_RGN_Create(2, &o), 0);
    EXPECT_EQ(ZQ_MPI_RGN_SetAttr(1, &c), kNotChanged);  // no such cover on channel 1
    EXPECT_EQ(ZQ_MPI_RGN_Enable(2, 1, ZQ_RGN_OSD), 0);
    const u8 pixels[32] = {};
    RgnBitmap b{1, 16, 8, 1, pixels};
    EXPECT_EQ(ZQ_MPI_RGN_SetBitMap(2, &b), 0);
    char bitmapLine[200];
    std::snprintf(bitmapLine, sizeof bitmapLine,
                  "5.0 <6>rgn [ZQ_MPI_RGN_SetBitMap]: ViChn[2], u32Handle[1], u32Width[16], "
                  "u32Height[8], u32Format[1], pData[%p]\n\n",
                  static_cast<const void *>(pixels));
    EXPECT_EQ(log_text(),
              "5.0 <6>rgn [ZQ_MPI_RGN_Init]: \n"
              "5.0 <6>rgn [ZQ_MPI_RGN_SetPallet]: ViChn[2]\n\n"
              "5.0 <6>rgn [ZQ_MPI_RGN_Create]: ViChn[2], u32Handle[1], enType[0]\n\n"
              "5.0 <6>rgn [ZQ_MPI_RGN_Create]: u32ColorMap[ab], u32Effect[c], u32Format[1], "
              "rect[-2, 3, 16, 8]\n\n"
              "5.0 <6>rgn [ZQ_MPI_RGN_SetAttr]: ViChn[1], u32Handle[4], enType[1]\n\n"
              "5.0 <6>rgn [ZQ_MPI_RGN_SetAttr]: u32Color[ff00], u32Effect[1], rect[5, 6, 7, 8]\n\n"
              "5.0 <3>rgn  rgn set attr failed\n\n"
              "5.0 <6>rgn [ZQ_MPI_RGN_Enable]: ViChn[2], Handle[1], enType[0]\n\n" +
                  std::string(bitmapLine));
}

// A refused call changes no state: the kept record is what the driver has.
TEST_F(RgnTest, RefusedCallsLeaveTheKeptRecordAsTheDriverHasIt) {
    const RgnAttr o = osd(2, 10, 20, 8, 8), c = cover(3, 1, 2, 3, 4);
    const RgnAttr oMoved = osd(2, 30, 40, 99, 99, 0, 0x5, 0x6), cMoved = cover(3, 9, 9, 9, 9);
    ASSERT_EQ(ZQ_MPI_RGN_Create(1, &o), 0);
    ASSERT_EQ(ZQ_MPI_RGN_Create(1, &c), 0);
    static const u8 pixels[32] = {};
    RgnPallet palette{};
    struct Row {
        unsigned long refused;
        std::function<s32()> run;
        s32 rc;
        const char *line;
    } rows[] = {
        {ZQ_RGN_REQ_OSD_SET_ATTR, [&] { return ZQ_MPI_RGN_SetAttr(1, &oMoved); }, kNotChanged,
         " rgn set attr failed\n"},
        {ZQ_RGN_REQ_COVER_SET_ATTR, [&] { return ZQ_MPI_RGN_SetAttr(1, &cMoved); }, kNotChanged,
         " rgn set attr failed\n"},
        {ZQ_RGN_REQ_OSD_DESTROY, [&] { return ZQ_MPI_RGN_Destroy(1, &o); }, kDestroyRefused,
         "destory rgn failed\n"},
        {ZQ_RGN_REQ_COVER_DESTROY, [&] { return ZQ_MPI_RGN_Destroy(1, &c); }, kDestroyRefused,
         "destory rgn failed\n"},
        {0, [&] { return ZQ_MPI_RGN_Create(1, &o); }, kCreateRefused, " osd create\n"},  // exists
        {ZQ_RGN_REQ_COVER_CREATE, [&] { return ZQ_MPI_RGN_Create(1, &cMoved); }, kCreateRefused,
         " win create\n"},
        {ZQ_RGN_REQ_OSD_SHOW, [] { return ZQ_MPI_RGN_Enable(1, 2, ZQ_RGN_OSD); }, kNotChanged,
         "rgn enable failed\n"},
        {ZQ_RGN_REQ_COVER_SHOW, [] { return ZQ_MPI_RGN_Disable(1, 3, ZQ_RGN_COVER); }, kNotChanged,
         "rgn disable failed\n"},
        {ZQ_RGN_REQ_SET_PALLET, [&] { return ZQ_MPI_RGN_SetPallet(1, &palette); }, kCreateRefused,
         " osd pallet set\n"},
        {ZQ_RGN_REQ_OSD_SET_BITMAP,
         [&] {
             RgnBitmap b{2, 8, 8, 2, pixels};
             return ZQ_MPI_RGN_SetBitMap(1, &b);
         },
         kBitmapRefused, "osd set bitmap failed\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.line);
        refuse_only(row.refused);
        EXPECT_EQ(row.run(), row.rc);
        const std::string text = log_text(), last = std::string("<3>rgn ") + row.line + "\n";
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), last.size())), last);
        EXPECT_TRUE(same(kept(1, 2, ZQ_RGN_OSD), o));
        EXPECT_TRUE(same(kept(1, 3, ZQ_RGN_COVER), c));
    }
    refuse_only(0);
    EXPECT_EQ(sim::read_regions(dir()).channels[1].overlays[2].x, 10);
    EXPECT_EQ(sim::read_regions(dir()).channels[1].covers[3].width, 3u);
    // Accepted: an overlay keeps the size and format it was created with.
    ASSERT_EQ(ZQ_MPI_RGN_SetAttr(1, &oMoved), 0);
    RgnAttr expected = osd(2, 30, 40, 8, 8, 2, 0x5, 0x6);
    EXPECT_TRUE(same(kept(1, 2, ZQ_RGN_OSD), expected));
    ASSERT_EQ(ZQ_MPI_RGN_Destroy(1, &o), 0);
    EXPECT_TRUE(same(kept(1, 2, ZQ_RGN_OSD), RgnAttr{}));
}

// The second request of a create refused: the new region is taken back.
TEST_F(RgnTest, CreateWhoseAttributesAreRefusedLeavesNoRegion) {
    for (auto [request, type, line] :
         {std::tuple{ZQ_RGN_REQ_OSD_SET_ATTR, ZQ_RGN_OSD, " osd set attr\n"},
          std::tuple{ZQ_RGN_REQ_COVER_SET_ATTR, ZQ_RGN_COVER, " win set attr\n"}}) {
        refuse_only(request);
        const RgnAttr r = type == ZQ_RGN_OSD ? osd(0, 1, 1, 4, 4) : cover(0, 1, 1, 4, 4);
        EXPECT_EQ(ZQ_MPI_RGN_Create(0, &r), kNotChanged);
        EXPECT_EQ(count_of(log_text(), std::string("<3>rgn ") + line), 1u);
        EXPECT_TRUE(same(kept(0, 0, type), RgnAttr{}));
        refuse_only(0);
        EXPECT_EQ(ZQ_MPI_RGN_Create(0, &r), 0);  // the driver has none: made again
    }
}

TEST_F(RgnTest, ThreadsThatOpenTheDeviceAtOnceKeepOneDescriptor) {
#if defined(__arm__)
    // Under qemu-user this process crashes now and then (double free, SIGSEGV)
    // when four threads make their first calls at once; not yet explained.
    // ThreadSanitizer checks the open on the host.
    GTEST_SKIP() << "unexplained crashes of concurrent first calls under qemu-user";
#endif
    std::array<s32, 4> results{};
    std::vector<std::thread> threads;
    for (s32 &rc : results) threads.emplace_back([&rc] { rc = ZQ_MPI_RGN_Init(); });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(results, (std::array<s32, 4>{}));
    const std::vector<std::string> events = journal_events("/dev/rgn");
    EXPECT_EQ(std::count(events.begin(), events.end(), "open") -
                  std::count(events.begin(), events.end(), "close"),
              1);
}

}  // namespace
