// The hardware profile parser: hostile and odd profiles fail or pass cleanly, and a full
// profile gives every field.

#include <cstring>
#include <fstream>
#include <utility>

#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_hwprofile.h"
#include "zq_log.h"

namespace {

constexpr const char *kFile = "/var/profile.json";
constexpr const char *kVenc = R"("Venc": {"VencX": [], "Jpeg": {"Channel": 4}})";
constexpr const char *kVi = R"("Vi": {"ViX": [{"Channel": 0}]})";

class HwProfileTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(100);
    }
    Captured parse(const std::string &text, s32 expected) {
        std::ofstream(host(kFile), std::ios::trunc) << text;
        return capture_output([&] { EXPECT_EQ(ZQSDK_ParseJson(kFile), expected) << text; });
    }
};

std::vector<s32> fields(const HwProfile &p) {
    std::vector<s32> words(sizeof p / sizeof(s32));
    std::memcpy(words.data(), &p, sizeof p);
    return words;
}

std::string with(const std::string &vi, const std::string &venc, const std::string &rest = "") {
    return "{" + vi + ", " + venc + rest + "}";
}

// A field of the profile by its place among the s32 words, and the value it must hold.
using Field = std::pair<size_t, s32>;
#define FIELD(member, value) Field(offsetof(HwProfile, member) / sizeof(s32), value)

struct Odd {
    std::string text;
    s32 result;
    std::vector<Field> values = {};
};

TEST_F(HwProfileTest, OddProfilesGiveTheirResultAndFields) {
    const std::string ok = with(kVi, kVenc);
    auto venc = [](const std::string &vencx, const std::string &jpeg, const char *format = "") {
        return with(kVi, R"("Venc": {"VencX": )" + vencx + R"(, "Jpeg": )" + jpeg +
                             R"(, "Format": ")" + format + "\"}");
    };
    auto vi = [](const std::string &members) { return with("\"Vi\": {" + members + "}", kVenc); };
    auto vix = [](const std::string &entries) {
        return with(R"("Vi": {"ViX": )" + entries + "}", kVenc);
    };
    auto isp = [&](const std::string &inner) { return with(kVi, kVenc, R"(, "Isp": )" + inner); };
    const char *jpeg = R"({"Channel": 4})";
    const std::vector<Odd> table = {
        {R"({"Vi": "x"})", -1},
        {ok + std::string(65536 - ok.size(), ' '), 0},
        {ok + std::string(65537 - ok.size(), ' '), -1},
        {vix("[]"), -1},
        {vix(R"([{"Channel": 3}])"), -1},
        {vix("{}"), 0, {FIELD(stVi.astViChn[0].bEnable, 0)}},
        {vi(R"("CapWHXY": [7, NaN], "SensorIFS": 1e12, "sensorfps": 1, "SensorFPS": "25",)"
            R"( "ViX": [{"channel": 2, "capsize": [640]}, {"CHANNEL": 0, "CapSize": "x"}])"),
         0,
         {FIELD(stVi.s32CapW, 7), FIELD(stVi.s32CapH, 0), FIELD(stVi.s32CapY, 0),
          FIELD(stVi.s32SensorIfs, 2147483647), FIELD(stVi.s32SensorFps, 25),
          FIELD(stVi.astViChn[0].bEnable, 1), FIELD(stVi.astViChn[0].s32Width, 0),
          FIELD(stVi.astViChn[1].bEnable, 0), FIELD(stVi.astViChn[2].s32Width, 640)}},
        {venc(R"([{"Channel": 5}])", jpeg), -1},
        {venc("[]", R"({"MaxSize": [1, 2]})"), -1},
        {venc(R"([{"Channel": 4, "MaxSize": [320, 240]}, {"channel": 1}])", jpeg, "h265"),
         0,
         {FIELD(stVenc.s32Format, 2), FIELD(stVenc.astVencChn[1].bEnable, 1),
          FIELD(stVenc.astVencChn[4].s32MaxWidth, 320)}},
        {isp(R"({"IRCut": {"SwapFlag": "x"}, "Infrared": {"SwapFlag": ""}, "IRLight": "x",)"
             R"( "WLight": {"SwapFlag": 0}}, "4GModule": {"SwapFlag": null})"),
         0,
         {FIELD(stIsp.stIrCut.bSwapFlag, 1), FIELD(stIsp.stInfrared.bSwapFlag, 0),
          FIELD(stIsp.stWLight.bValid, 1), FIELD(stIsp.stIrLight.bValid, 0)}},
        {isp(R"(null, "4GModule": 5)"), 0},
    };
    for (const Odd &row : table) {
        parse(row.text, row.result);
        for (const Field &field : row.values)
            EXPECT_EQ(fields(g_HwProfile)[field.first], field.second)
                << field.first << " " << row.text;
    }
}

TEST_F(HwProfileTest, FullProfileFillsEveryField) {
    const std::string full = R"({
      "Vi": {"SensorIFS": 2, "sensorfps": 30, "CapWHXY": [1920, 1080, 8, 4],
             "ViX": [{"Channel": 0, "CapSize": [1920, 1080]}, {"CapSize": [640, 360], "Channel": 2}]},
      "Venc": {"Format": "H264PLUS", "Jpeg": {"Channel": 4, "Quality": 90},
               "VencX": [{"Channel": 0, "MaxSize": [1920, 1080], "Quality": 80},
                         {"Channel": 1, "MaxSize": [640, 360]}, {"Channel": 3, "Quality": 7},
                         {"Channel": 2, "MaxSize": [320, 180], "Quality": 60},
                         {"Channel": 4, "MaxSize": [1280, 720], "Quality": 50}]},
      "Isp": {"Vstd": "ntsc", "IRCut": {"GpioValue": 10, "SwapFlag": true},
              "Infrared": {"GpioValue": 11}, "WLight": {"gpiovalue": 12, "swapflag": 1},
              "IRLight": {"GpioValue": 13, "SwapFlag": false}},
      "4GModule": {"GpioValue": 40, "SwapFlag": true}})";
    const HwProfile expected = {
        {1, {11, 0, 1}, {10, 1, 1}, {12, 1, 1}, {13, 0, 1}},
        {2, 30, 8, 4, 1920, 1080, {{1, 1920, 1080}, {0, 0, 0}, {1, 640, 360}}},
        {1,
         {{1, 0, 1920, 1080, 80},
          {1, 1, 640, 360, 0},
          {1, 2, 320, 180, 60},
          {1, 3, 0, 0, 7},
          {1, 4, 1280, 720, 90}}},
        {40, 1, 0}};
    EXPECT_EQ(parse(full, 0).err, "");
    EXPECT_EQ(fields(g_HwProfile), fields(expected));

    // A missing file or no path at all leaves the profile as it was.
    capture_output([] {
        EXPECT_EQ(ZQSDK_ParseJson("/var/none.json"), -1);
        EXPECT_EQ(ZQSDK_ParseJson(nullptr), -1);
    });
    EXPECT_EQ(fields(g_HwProfile), fields(expected));
}

}  // namespace
