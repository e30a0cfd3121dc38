// The video input family: the request records the driver gets, result codes
// and the keep masks.
#include "emul/vi.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <tuple>

#include "emul/board.h"
#include "port/port.h"
#include "support/call_rows.h"
#include "support/vboard_fixture.h"
#include "video/vi_keep_mask.h"
#include "zq_vi.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

constexpr s32 kBadChannel = s32(0xA0108002), kBadRate = s32(0xA0108003);
constexpr s32 kNull = s32(0xA0108006), kFailed = s32(0xA0108007), kNoFrame = s32(0xA010800E);
constexpr s32 kOpenFailed = s32(0xA0108010), kRefused = s32(0xA0108012);

using Sent = std::vector<std::pair<unsigned long, std::vector<uint8_t>>>;

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), std::data(values), bytes.size());
    return bytes;
}

class ViTest : public VBoardTest {
  protected:
    const ViChnAttr attr_{{8, 4, 1280, 720}, {640, 360}, {1, 2, 3, 4, 5}, 30, 15};
    const ViExtChnAttr ext_{9, 320, 180, {7, 7, 7}};
};

TEST_F(ViTest, EachCallSendsItsRecordByteForByteAndTheSetsAreKept) {
    ASSERT_TRUE(sim::set_log_levels(dir(), {{"vi", 6}}));
    // Width, height, Y, UV, capture time and buffer of a frame handed back.
    ViFrameInfo frame{0x33, 0x44, {}, 0x11111111, 0x22222222, {}, ~0ull, {}, 3, 0};
    const ViBindDest toVo{ZQ_MOD_VO, 99, 1}, toVenc{ZQ_MOD_VENC, 0, 4};
    const std::tuple<const char *, std::function<s32()>, s32, Sent> rows[] = {
        {CALL(ZQ_MPI_VI_Init()), 0, {{0x5606, {}}}},
        {CALL(ZQ_MPI_VI_SetChnAttr(0, &attr_)),
         0,
         {{0x40105600, words({8, 4, 1280, 720})}, {0x400C5601, words({0, 640, 360})}}},
        {CALL(ZQ_MPI_VI_SetExtChnAttr(2, &ext_)), 0, {{0x400C5601, words({2, 320, 180})}}},
        {CALL(ZQ_MPI_VI_EnableChn(5)), 0, {{0x40045602, words({5})}}},
        {CALL(ZQ_MPI_VI_DisableChn(5)), 0, {{0x40045603, words({5})}}},
        {CALL(ZQ_MPI_VI_SetFrmRate(0, 30, 15)), 0, {{0x400C5607, words({0, 29, 0x2AAAAAAA})}}},
        {CALL(ZQ_MPI_VI_SetFrmRate(4, 25, 0)), 0, {{0x400C5607, words({4, 24, 0})}}},
        {CALL(ZQ_MPI_VI_Bind(3, &toVo)), 0, {{0x400C5608, words({3, 2, 1})}}},
        {CALL(ZQ_MPI_VI_Bind(3, &toVenc)), 0, {{0x400C5608, words({3, 0, 4})}}},
        // Channel 1 is not enabled and holds no frame: both are refused, and the
        // failed get leaves the frame as it was for the release to send.
        {CALL(ZQ_MPI_VI_GetFrame(1, &frame)),
         kNoFrame,
         {{0xC0205604, words({1, 0, 0, 0, 0, 0, 0, 0})}}},
        {CALL(ZQ_MPI_VI_ReleaseFrame(1, &frame)),
         kRefused,
         {{0x40205605, words({1, 3, 0x11111111, 0x22222222, 0x33, 0x44, 0, 0})}}},
    };
    for (const auto &[call, run, result, expected] : rows) {
        sim::clear_vi_requests();
        EXPECT_EQ(run(), result) << call;
        Sent sent;
        for (const sim::ViRequest &r : sim::vi_requests()) sent.emplace_back(r.code, r.record);
        EXPECT_EQ(sent, expected) << call;
    }
    // The attributes set come back whole; Init forgets that they were set.
    ViChnAttr gotAttr;
    ViExtChnAttr gotExt;
    ASSERT_EQ(ZQ_MPI_VI_GetChnAttr(0, &gotAttr), 0);
    EXPECT_EQ(std::memcmp(&gotAttr, &attr_, sizeof gotAttr), 0);
    ASSERT_EQ(ZQ_MPI_VI_GetExtChnAttr(2, &gotExt), 0);
    EXPECT_EQ(std::memcmp(&gotExt, &ext_, sizeof gotExt), 0);
    ASSERT_EQ(ZQ_MPI_VI_Init(), 0);
    EXPECT_EQ(ZQ_MPI_VI_GetChnAttr(0, &gotAttr), kFailed);
    EXPECT_EQ(ZQ_MPI_VI_GetExtChnAttr(2, &gotExt), kFailed);
    EXPECT_EQ(count_of(log_text(),
                       "<6>vi [ZQ_MPI_VI_SetChnAttr]: ViChn[0], stCapRect[8, 4, 1280, "
                       "720], stDestSize[640, 360], s32SrcFrameRate[30], "
                       "s32FrameRate[15]\n"),
              1u);
}

// The channel is checked first (the rows with a channel outside the rule
// pass a null pointer too), then the pointer or the rates, before any open.
TEST_F(ViTest, RefusedArgumentsNeverReachTheDriver) {
    ViChnAttr a = attr_;
    ViExtChnAttr e = ext_;
    const std::tuple<const char *, std::function<s32()>, s32> rows[] = {
        {CALL(ZQ_MPI_VI_SetChnAttr(1, nullptr)), kBadChannel},
        {CALL(ZQ_MPI_VI_GetChnAttr(-1, nullptr)), kBadChannel},
        {CALL(ZQ_MPI_VI_SetExtChnAttr(0, nullptr)), kBadChannel},
        {CALL(ZQ_MPI_VI_GetExtChnAttr(6, nullptr)), kBadChannel},
        {CALL(ZQ_MPI_VI_EnableChn(-1)), kBadChannel},
        {CALL(ZQ_MPI_VI_GetFrame(INT32_MIN, nullptr)), kBadChannel},
        {CALL(ZQ_MPI_VI_ReleaseFrame(6, nullptr)), kBadChannel},
        {CALL(ZQ_MPI_VI_Bind(-3, nullptr)), kBadChannel},
        {CALL(ZQ_MPI_VI_SetFrmRate(0xFFFFFFFF, 31, 1)), kBadChannel},
        {CALL(ZQ_MPI_VI_SetFrmRate(0, 31, 1)), kBadRate},
        {CALL(ZQ_MPI_VI_SetFrmRate(0, 10, 11)), kBadRate},
        {CALL(ZQ_MPI_VI_SetChnAttr(0, nullptr)), kNull},
        {CALL(ZQ_MPI_VI_GetChnAttr(0, nullptr)), kNull},
        {CALL(ZQ_MPI_VI_SetExtChnAttr(1, nullptr)), kNull},
        {CALL(ZQ_MPI_VI_GetExtChnAttr(1, nullptr)), kNull},
        {CALL(ZQ_MPI_VI_GetFrame(0, nullptr)), kNull},
        {CALL(ZQ_MPI_VI_ReleaseFrame(0, nullptr)), kNull},
        {CALL(ZQ_MPI_VI_Bind(0, nullptr)), kNull},
        {CALL(ZQ_MPI_VI_GetChnAttr(0, &a)), kFailed},
        {CALL(ZQ_MPI_VI_GetExtChnAttr(3, &e)), kFailed},
    };
    for (const auto &[call, run, result] : rows) EXPECT_EQ(run(), result) << call;
    EXPECT_TRUE(sim::vi_requests().empty());
    EXPECT_TRUE(journal_events("/dev/vi").empty());  // nothing even opened it
}

// Each call fails alike without the device (tried again by the next call),
// and gives its own code when the driver refuses it; neither changes state.
TEST_F(ViTest, MissingOrRefusingDriverGivesTheCodesAndChangesNothing) {
    ViFrameInfo f{};
    const ViBindDest b{ZQ_MOD_VO, 0, 0};
    const std::tuple<unsigned long, const char *, std::function<s32()>, s32> rows[] = {
        {0x5606, CALL(ZQ_MPI_VI_Init()), kFailed},
        {0x40105600, CALL(ZQ_MPI_VI_SetChnAttr(0, &attr_)), kRefused},
        {0x400C5601, CALL(ZQ_MPI_VI_SetChnAttr(0, &attr_)), kRefused},
        {0x400C5601, CALL(ZQ_MPI_VI_SetExtChnAttr(2, &ext_)), kFailed},
        {0x40045602, CALL(ZQ_MPI_VI_EnableChn(1)), s32(0xA0108040)},
        {0x40045603, CALL(ZQ_MPI_VI_DisableChn(1)), s32(0xA0108041)},
        {0xC0205604, CALL(ZQ_MPI_VI_GetFrame(0, &f)), kNoFrame},
        {0x40205605, CALL(ZQ_MPI_VI_ReleaseFrame(0, &f)), kRefused},
        {0x400C5607, CALL(ZQ_MPI_VI_SetFrmRate(0, 30, 15)), kFailed},
        {0x400C5608, CALL(ZQ_MPI_VI_Bind(0, &b)), s32(0xA0108048)},
    };
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/vi", true));
    for (const auto &[request, call, run, result] : rows) EXPECT_EQ(run(), kOpenFailed) << call;
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/vi", false));
    for (const auto &[request, call, run, result] : rows) {
        ASSERT_TRUE(sim::refuse_request(dir(), "/dev/vi", request, 0, 1));
        EXPECT_EQ(run(), result) << call;
    }
    ViChnAttr a;
    ViExtChnAttr e;
    EXPECT_EQ(ZQ_MPI_VI_GetChnAttr(0, &a), kFailed);  // no refused Set was taken
    EXPECT_EQ(ZQ_MPI_VI_GetExtChnAttr(2, &e), kFailed);
    EXPECT_EQ(count_of(sim::read_board_file(dir(), "/journal"), "/dev/vi open\n"), 1u);
}

TEST(ViKeepMask, EveryEntryKeepsItsRules) {
    const auto &table = zq::video::ViFrameKeepMask;
    for (u32 src = 1; src <= 30; ++src) {
        for (u32 dst = 1; dst <= 30; ++dst) {
            const u32 mask = table[src - 1][dst - 1];
            if (dst > src) {
                EXPECT_EQ(mask, 0u);
                continue;
            }
            EXPECT_EQ(u32(__builtin_popcount(mask)), dst) << src << "/" << dst;
            EXPECT_EQ(mask >> (src - 1), 1u) << src << "/" << dst;  // top frame kept, none above
            // Evenly spread: the gaps between kept frames, round the second, differ by one at most.
            std::vector<u32> kept;  // over two seconds, so that one gap goes round
            for (u32 i = 0; i < 2 * src; ++i)
                if (mask >> (i % src) & 1) kept.push_back(i);
            std::adjacent_difference(kept.begin(), kept.end(), kept.begin());
            const auto [shortest, longest] = std::minmax_element(kept.begin() + 1, kept.end());
            EXPECT_LE(*longest - *shortest, 1u) << src << "/" << dst;
        }
    }
}

}  // namespace
