// The video input family: the request records the driver gets, result codes
// and messages, the mended faults, the keep masks, frames read through a
// mapping of their physical address, and the lazy open under racing threads.
#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <thread>

#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "vi_frames.h"
#include "video/vi_keep_mask.h"
#include "zq_vi.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

constexpr s32 kBadChannel = s32(0xA0108002), kBadRate = s32(0xA0108003);
constexpr s32 kNull = s32(0xA0108006), kFailed = s32(0xA0108007), kNoFrame = s32(0xA010800E);
constexpr s32 kOpenFailed = s32(0xA0108010), kRefused = s32(0xA0108012);

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), std::data(values), bytes.size());
    return bytes;
}

class ViTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        ASSERT_TRUE(sim::set_log_levels(dir(), {{"vi", 6}}));
    }
    const ViChnAttr attr_{{8, 4, 1280, 720}, {640, 360}, {1, 2, 3, 4, 5}, 30, 15};
    const ViExtChnAttr ext_{9, 320, 180, {7, 7, 7}};
};

TEST_F(ViTest, EachCallSendsItsRecordByteForByte) {
    ViFrameInfo frame{};
    frame.u32BufferId = 3;
    frame.u32PhyAddrY = 0x11111111;
    frame.u32PhyAddrUV = 0x22222222;
    frame.u32Width = 0x33;
    frame.u32Height = 0x44;
    frame.u64Pts = ~0ull;
    const ViBindDest toVo{ZQ_MOD_VO, 99, 1}, toVenc{ZQ_MOD_VENC, 0, 4};
    struct Row {
        const char *call;
        std::function<s32()> run;
        s32 result;
        std::vector<sim::ViRequest> sent;
    };
    const Row rows[] = {
        {"Init", [] { return ZQ_MPI_VI_Init(); }, 0, {{0x5606, {}}}},
        {"SetChnAttr",
         [&] { return ZQ_MPI_VI_SetChnAttr(0, &attr_); },
         0,
         {{0x40105600, words({8, 4, 1280, 720})}, {0x400C5601, words({0, 640, 360})}}},
        {"SetExtChnAttr",
         [&] { return ZQ_MPI_VI_SetExtChnAttr(2, &ext_); },
         0,
         {{0x400C5601, words({2, 320, 180})}}},
        {"EnableChn", [] { return ZQ_MPI_VI_EnableChn(5); }, 0, {{0x40045602, words({5})}}},
        {"DisableChn", [] { return ZQ_MPI_VI_DisableChn(5); }, 0, {{0x40045603, words({5})}}},
        {"SetFrmRate 30/15",
         [] { return ZQ_MPI_VI_SetFrmRate(0, 30, 15); },
         0,
         {{0x400C5607, words({0, 29, 0x2AAAAAAA})}}},
        {"SetFrmRate 25/0",
         [] { return ZQ_MPI_VI_SetFrmRate(4, 25, 0); },
         0,
         {{0x400C5607, words({4, 24, 0})}}},
        {"Bind vo", [&] { return ZQ_MPI_VI_Bind(3, &toVo); }, 0, {{0x400C5608, words({3, 2, 1})}}},
        {"Bind other",
         [&] { return ZQ_MPI_VI_Bind(3, &toVenc); },
         0,
         {{0x400C5608, words({3, 0, 4})}}},
        {"GetFrame (disabled)",
         [&] { return ZQ_MPI_VI_GetFrame(1, &frame); },
         kNoFrame,
         {{0xC0205604, words({1, 0, 0, 0, 0, 0, 0, 0})}}},
        {"ReleaseFrame (not held)",
         [&] { return ZQ_MPI_VI_ReleaseFrame(1, &frame); },
         kRefused,
         {{0x40205605, words({1, 3, 0x11111111, 0x22222222, 0x33, 0x44, 0, 0})}}},
    };
    for (const Row &row : rows) {
        sim::clear_vi_requests();
        EXPECT_EQ(row.run(), row.result) << row.call;
        std::vector<sim::ViRequest> sent = sim::vi_requests();
        ASSERT_EQ(sent.size(), row.sent.size()) << row.call;
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].code, row.sent[i].code) << row.call;
            EXPECT_EQ(sent[i].record, row.sent[i].record) << row.call;
        }
    }
    ViFrameInfo untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    frame = untouched;
    EXPECT_EQ(ZQ_MPI_VI_GetFrame(1, &frame), kNoFrame);
    EXPECT_EQ(std::memcmp(&frame, &untouched, sizeof frame), 0);  // a failed get writes nothing
}

TEST_F(ViTest, TracesAndStoredAttributes) {
    ViChnAttr gotAttr;
    ViExtChnAttr gotExt;
    EXPECT_EQ(ZQ_MPI_VI_SetChnAttr(0, &attr_), 0);
    EXPECT_EQ(ZQ_MPI_VI_GetChnAttr(0, &gotAttr), 0);
    EXPECT_EQ(std::memcmp(&gotAttr, &attr_, sizeof gotAttr), 0);
    EXPECT_EQ(ZQ_MPI_VI_SetExtChnAttr(5, &ext_), 0);
    EXPECT_EQ(ZQ_MPI_VI_GetExtChnAttr(5, &gotExt), 0);
    EXPECT_EQ(std::memcmp(&gotExt, &ext_, sizeof gotExt), 0);
    EXPECT_EQ(ZQ_MPI_VI_SetFrmRate(1, 25, 5), 0);
    EXPECT_EQ(ZQ_MPI_VI_EnableChn(1), 0);
    const std::string setTrace =
        "ViChn[0], stCapRect[8, 4, 1280, 720], stDestSize[640, 360], s32SrcFrameRate[30], "
        "s32FrameRate[15]\n";
    const std::string log = log_text();
    for (const std::string &line :
         {"<6>vi [ZQ_MPI_VI_SetChnAttr]: " + setTrace, "<6>vi [ZQ_MPI_VI_GetChnAttr]: " + setTrace,
          std::string("<6>vi [ZQ_MPI_VI_SetExtChnAttr]: ViChn[5], u32Width[320], u32Height[180]\n"),
          std::string("<6>vi [ZQ_MPI_VI_GetExtChnAttr]: ViChn[5], u32Width[320], u32Height[180]\n"),
          std::string("<6>vi [ZQ_MPI_VI_SetFrmRate]: ViChn[1], srcFrmRate[25], dstFrmRate[5]\n"),
          std::string("<6>vi [ZQ_MPI_VI_EnableChn]: ViChn[1]\n")})
        EXPECT_EQ(count_of(log, line), 1u) << line;
    // Init forgets which attributes were set, not the copies.
    EXPECT_EQ(ZQ_MPI_VI_Init(), 0);
    EXPECT_EQ(ZQ_MPI_VI_GetChnAttr(0, &gotAttr), kFailed);
    EXPECT_EQ(ZQ_MPI_VI_GetExtChnAttr(5, &gotExt), kFailed);
    EXPECT_NE(log_text().find("<6>vi [ZQ_MPI_VI_Init]: \n"), std::string::npos);
    EXPECT_NE(log_text().find("<3>vi vi chn 0 not created\n"), std::string::npos);
    EXPECT_NE(log_text().find("<3>vi ViChn 5 not created\n"), std::string::npos);
}

TEST_F(ViTest, RefusedArgumentsNeverReachTheDriver) {
    ViChnAttr a = attr_;
    ViExtChnAttr e = ext_;
    ViFrameInfo f{};
    ViBindDest b{};
    struct Row {
        std::function<s32()> run;
        s32 result;
        const char *message;
    };
    const Row rows[] = {
        {[&] { return ZQ_MPI_VI_SetChnAttr(1, &a); }, kBadChannel, "not support ViChn = 1\n"},
        {[&] { return ZQ_MPI_VI_GetChnAttr(-1, &a); }, kBadChannel, "not support ViChn = -1\n"},
        {[&] { return ZQ_MPI_VI_SetExtChnAttr(0, &e); }, kBadChannel, "not support ViChn = 0\n"},
        {[&] { return ZQ_MPI_VI_GetExtChnAttr(6, &e); }, kBadChannel, "not support ViChn = 6\n"},
        // Negative channels are refused like any other outside the rule.
        {[] { return ZQ_MPI_VI_EnableChn(-1); }, kBadChannel, "not support ViChn = -1\n"},
        {[] { return ZQ_MPI_VI_DisableChn(-2); }, kBadChannel, "not support ViChn = -2\n"},
        {[&] { return ZQ_MPI_VI_GetFrame(INT32_MIN, &f); }, kBadChannel,
         "not support ViChn = -2147483648\n"},
        {[&] { return ZQ_MPI_VI_ReleaseFrame(6, &f); }, kBadChannel, "not support ViChn = 6\n"},
        {[&] { return ZQ_MPI_VI_Bind(-3, &b); }, kBadChannel, "not support ViChn = -3\n"},
        {[] { return ZQ_MPI_VI_SetFrmRate(6, 30, 1); }, kBadChannel, "not support ViChn = 6\n"},
        {[] { return ZQ_MPI_VI_SetFrmRate(0xFFFFFFFF, 30, 1); }, kBadChannel,
         "not support ViChn = -1\n"},
        {[] { return ZQ_MPI_VI_SetFrmRate(0, 31, 1); }, kBadRate,
         "not support srcFrmRate = 31, dstFrmRate = 1\n"},
        {[] { return ZQ_MPI_VI_SetFrmRate(0, 0, 0); }, kBadRate,
         "not support srcFrmRate = 0, dstFrmRate = 0\n"},
        {[] { return ZQ_MPI_VI_SetFrmRate(0, 10, 11); }, kBadRate,
         "not support srcFrmRate = 10, dstFrmRate = 11\n"},
        {[] { return ZQ_MPI_VI_SetChnAttr(0, nullptr); }, kNull, "pstAttr is null\n"},
        {[] { return ZQ_MPI_VI_GetChnAttr(0, nullptr); }, kNull, "pstAttr is null\n"},
        {[] { return ZQ_MPI_VI_SetExtChnAttr(1, nullptr); }, kNull, "pstExtChnAttr is null\n"},
        {[] { return ZQ_MPI_VI_GetExtChnAttr(1, nullptr); }, kNull, "pstExtChnAttr is null\n"},
        {[] { return ZQ_MPI_VI_GetFrame(0, nullptr); }, kNull, "pstFrameInfo is null\n"},
        {[] { return ZQ_MPI_VI_ReleaseFrame(0, nullptr); }, kNull, "pstFrameInfo is null\n"},
        {[] { return ZQ_MPI_VI_Bind(0, nullptr); }, kNull, "pstDestChn is null\n"},
        {[&] { return ZQ_MPI_VI_GetChnAttr(0, &a); }, kFailed, "vi chn 0 not created\n"},
        {[&] { return ZQ_MPI_VI_GetExtChnAttr(3, &e); }, kFailed, "ViChn 3 not created\n"},
    };
    for (const Row &row : rows) {
        const size_t before = log_text().size();
        EXPECT_EQ(row.run(), row.result) << row.message;
        EXPECT_NE(log_text().find(std::string("<3>vi ") + row.message, before), std::string::npos)
            << row.message;
    }
    EXPECT_TRUE(sim::vi_requests().empty());
    EXPECT_TRUE(journal_events("/dev/vi").empty());  // nothing even opened it
}

TEST_F(ViTest, RefusedRequestsGiveTheirCodesAndChangeNothing) {
    ViChnAttr a = attr_;
    ViFrameInfo f{};
    const ViBindDest b{ZQ_MOD_VO, 0, 0};
    struct Row {
        unsigned long request;
        std::function<s32()> run;
        s32 result;
        const char *message;
    };
    const Row rows[] = {
        {0x5606, [] { return ZQ_MPI_VI_Init(); }, kFailed, "vi init failed\n"},
        {0x40105600, [&] { return ZQ_MPI_VI_SetChnAttr(0, &attr_); }, kRefused,
         "vi set cutrect failed\n"},
        // The output size of channel 0 refused is a failure, not a success.
        {0x400C5601, [&] { return ZQ_MPI_VI_SetChnAttr(0, &attr_); }, kRefused,
         "vi set destsize failed\n"},
        {0x400C5601, [&] { return ZQ_MPI_VI_SetExtChnAttr(2, &ext_); }, kFailed,
         "vi chn 2 release frame failed, ret = -1\n"},
        {0x40045602, [] { return ZQ_MPI_VI_EnableChn(1); }, s32(0xA0108040),
         "vi chn 1 enable failed\n"},
        {0x40045603, [] { return ZQ_MPI_VI_DisableChn(1); }, s32(0xA0108041),
         "vi chn 1 disable failed\n"},
        {0xC0205604, [&] { return ZQ_MPI_VI_GetFrame(0, &f); }, kNoFrame,
         "vi chn 0 get frame failed\n"},
        {0x40205605, [&] { return ZQ_MPI_VI_ReleaseFrame(0, &f); }, kRefused,
         "vi chn 0 release frame failed, ret = -1\n"},
        {0x400C5607, [] { return ZQ_MPI_VI_SetFrmRate(0, 30, 15); }, kFailed,
         "vi chn 0 set div failed\n"},
        {0x400C5608, [&] { return ZQ_MPI_VI_Bind(0, &b); }, s32(0xA0108048),
         "vi chn 0 set bind failed\n"},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(sim::refuse_request(dir(), "/dev/vi", row.request, 0, 1));
        EXPECT_EQ(row.run(), row.result) << row.message;
        EXPECT_NE(log_text().find(std::string("<3>vi ") + row.message), std::string::npos)
            << row.message;
    }
    EXPECT_EQ(ZQ_MPI_VI_GetChnAttr(0, &a), kFailed);  // neither refused Set was taken
    ViExtChnAttr e;
    EXPECT_EQ(ZQ_MPI_VI_GetExtChnAttr(2, &e), kFailed);
}

TEST_F(ViTest, MissingDeviceIsTriedAgainOnTheNextCall) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/vi", true));
    ViFrameInfo f{};
    const ViBindDest b{};
    const std::function<s32()> calls[] = {
        [] { return ZQ_MPI_VI_Init(); },
        [&] { return ZQ_MPI_VI_SetChnAttr(0, &attr_); },
        [&] { return ZQ_MPI_VI_SetExtChnAttr(1, &ext_); },
        [] { return ZQ_MPI_VI_EnableChn(0); },
        [] { return ZQ_MPI_VI_DisableChn(0); },
        [&] { return ZQ_MPI_VI_GetFrame(0, &f); },
        [&] { return ZQ_MPI_VI_ReleaseFrame(0, &f); },
        [] { return ZQ_MPI_VI_SetFrmRate(0, 30, 30); },
        [&] { return ZQ_MPI_VI_Bind(0, &b); },
    };
    for (const auto &call : calls) EXPECT_EQ(call(), kOpenFailed);
    EXPECT_EQ(count_of(log_text(), "<3>vi /dev/vi open failed\n"), std::size(calls));
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/vi", false));
    EXPECT_EQ(ZQ_MPI_VI_EnableChn(0), 0);
    EXPECT_EQ(ZQ_MPI_VI_DisableChn(0), 0);
    EXPECT_EQ(count_of(sim::read_board_file(dir(), "/journal"), "/dev/vi open\n"), 1u);
}

// The table keeps its rules everywhere, and the rows the driver is known by.
TEST(ViKeepMask, EveryEntryKeepsItsRulesAndTheKnownRowsAreExact) {
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
            std::vector<u32> kept;
            for (u32 i = 0; i < src; ++i)
                if (mask >> i & 1) kept.push_back(i);
            u32 shortest = src, longest = 0;
            for (size_t k = 0; k < kept.size(); ++k) {
                u32 gap = k + 1 < kept.size() ? kept[k + 1] - kept[k] : kept[0] + src - kept[k];
                shortest = std::min(shortest, gap);
                longest = std::max(longest, gap);
            }
            EXPECT_LE(longest - shortest, 1u) << src << "/" << dst;
        }
    }
    const std::pair<u32, std::vector<u32>> rows[] = {
        {1, {0x1}},
        {2, {0x2, 0x3}},
        {3, {0x4, 0x5, 0x7}},
        {4, {0x8, 0xA, 0xB, 0xF}},
        {5, {0x10, 0x12, 0x16, 0x17, 0x1F}},
        {15,
         {0x4000, 0x4040, 0x4210, 0x4488, 0x4924, 0x4A52, 0x4AAA, 0x5AAA, 0x5AD6, 0x5B6D, 0x5DBB,
          0x5EF7, 0x5FDF, 0x5FFF, 0x7FFF}},
        {25, {0x1000000, 0x1000800, 0x1008080, 0x1020820, 0x1084210, 0x1088888, 0x1122244,
              0x1124924, 0x12924A4, 0x1294A52, 0x12A952A, 0x12AAAAA, 0x16AAAAA, 0x16AB56A,
              0x16B5AD6, 0x16B6DAD, 0x176DB6D, 0x176EEDD, 0x17BBBBB, 0x17BDEF7, 0x17EFBEF,
              0x17FBFBF, 0x17FFBFF, 0x17FFFFF, 0x1FFFFFF}},
        {30, {0x20000000, 0x20004000, 0x20080200, 0x20204040, 0x20820820, 0x21084210,
              0x21111088, 0x22444488, 0x22489224, 0x24924924, 0x2524A4A4, 0x25294A52,
              0x2552A54A, 0x25554AAA, 0x2AAAAAAA, 0x2D555AAA, 0x2D56AD5A, 0x2D6B5AD6,
              0x2D6DADAD, 0x2DB6DB6D, 0x2EDBB6ED, 0x2EDDDDBB, 0x2F7777BB, 0x2F7BDEF7,
              0x2FBEFBEF, 0x2FEFDFDF, 0x2FFBFEFF, 0x2FFFDFFF, 0x2FFFFFFF, 0x3FFFFFFF}},
    };
    for (const auto &[src, masks] : rows)
        for (size_t d = 0; d < masks.size(); ++d)
            EXPECT_EQ(table[src - 1][d], masks[d]) << src << "/" << d + 1;
}

// What an application does: get frames, map their physical addresses, read
// the picture, release them.
TEST_F(ViTest, FramesAtHalfTheSourceRateReadThroughAMapping) {
    freeze_clock(30);
    const ViChnAttr attr{{0, 0, 1920, 1080}, {320, 240}, {}, 30, 15};
    ASSERT_EQ(ZQ_MPI_VI_SetChnAttr(0, &attr), 0);
    ASSERT_EQ(ZQ_MPI_VI_SetFrmRate(0, 30, 15), 0);
    ASSERT_EQ(ZQ_MPI_VI_EnableChn(0), 0);
    int mem = port::open("/dev/mem", O_RDONLY);
    ASSERT_GE(mem, 0);
    u64 lastPts = 0;
    for (u32 k = 0; k < 4; ++k) {
        ViFrameInfo frame;
        std::memset(&frame, 0xEE, sizeof frame);
        ASSERT_EQ(ZQ_MPI_VI_GetFrame(0, &frame), 0);
        EXPECT_EQ(frame.au32Reserved1[0], 0xEEEEEEEEu);  // the rest of the record left alone
        EXPECT_EQ(frame.u32Reserved3, 0xEEEEEEEEu);
        EXPECT_EQ(frame.u32Width, 320u);
        EXPECT_EQ(frame.u32Height, 240u);
        EXPECT_EQ(frame.u32PhyAddrUV, frame.u32PhyAddrY + 320 * 240);
        const size_t length = 320 * 240 * 3 / 2;
        auto *y = static_cast<uint8_t *>(
            port::mmap(nullptr, length, PROT_READ, MAP_SHARED, mem, off_t(frame.u32PhyAddrY)));
        ASSERT_NE(y, MAP_FAILED);
        EXPECT_EQ(sim::vi_frame_number(y, 320), 2 * k + 1);  // frames 1, 3, 5, 7 of the source
        EXPECT_EQ(y[8 * 31], 235);                           // bit 0 of an odd number
        EXPECT_EQ(y[320 + 1], 235);                          // below the first row: the white bar
        EXPECT_EQ(y[320 * 240 + 1], 128);                    // its V
        EXPECT_EQ(y[320 * 240 + 279], 110);                  // the blue bar's V
        port::munmap(y, length);
        if (k == 0) {
            EXPECT_EQ(frame.u64Pts, 30'033'333u);  // frame 1 of 30 fps from 30 s
        } else {
            EXPECT_NEAR(double(frame.u64Pts - lastPts), 1e6 / 15, 1.0);
        }
        lastPts = frame.u64Pts;
        EXPECT_EQ(ZQ_MPI_VI_ReleaseFrame(0, &frame), 0);
    }
    port::close(mem);
}

// Two first calls at once open the device each; one descriptor is kept.
TEST_F(ViTest, RacingFirstCallsKeepOneDescriptor) {
    std::thread other([] { EXPECT_EQ(ZQ_MPI_VI_EnableChn(1), 0); });
    EXPECT_EQ(ZQ_MPI_VI_EnableChn(2), 0);
    other.join();
    EXPECT_EQ(ZQ_MPI_VI_DisableChn(1), 0);
    const std::vector<std::string> events = journal_events("/dev/vi");
    const auto opens = std::count(events.begin(), events.end(), "open");
    const auto closes = std::count(events.begin(), events.end(), "close");
    EXPECT_GE(opens, 1);
    EXPECT_EQ(opens - closes, 1);
}

}  // namespace
