// Temperature cache and reboot on a virtual board.

#include <cstring>

#include "emul/board.h"
#include "port/port.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"
#include "zq_system.h"

namespace {

class BoardControlTest : public VBoardTest {
  protected:
    size_t sensor_reads() const {
        size_t n = 0;
        for (const std::string &e : journal_events("temp_sensor")) n += e.rfind("read ", 0) == 0;
        return n;
    }
    void set_temperature(int value) {
        ASSERT_TRUE(
            zq::sim::set_board_value(dir(), "temperature.value", std::to_string(value), nullptr));
    }
};

TEST_F(BoardControlTest, TemperatureIsAskedOncePerThirtySecondsOfUptime) {
    freeze_clock(100);
    s32 t = 0;
    ASSERT_EQ(ZQSDK_GetTempurature(&t), 0);
    EXPECT_EQ(t, 45);
    set_temperature(50);
    zq::port::sleep_ms(29999);
    ASSERT_EQ(ZQSDK_GetTempurature(&t), 0);
    EXPECT_EQ(t, 45);
    EXPECT_EQ(sensor_reads(), 1u);
    zq::port::sleep_ms(1);
    ASSERT_EQ(ZQSDK_GetTempurature(&t), 0);
    EXPECT_EQ(t, 50);
    EXPECT_EQ(sensor_reads(), 2u);
}

// A missing sensor, an invalid reading or a refused request: asked again at the next call.
TEST_F(BoardControlTest, NoValidReadingMeansAskingAgain) {
    freeze_clock(100);
    s32 t = 7;
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/temp_sensor", true));
    EXPECT_EQ(ZQSDK_GetTempurature(&t), -1);
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/temp_sensor", false));
    set_temperature(-1000);
    EXPECT_EQ(ZQSDK_GetTempurature(&t), -1);
    set_temperature(40);
    EXPECT_EQ(ZQSDK_GetTempurature(&t), 0);
    EXPECT_EQ(t, 40);
    EXPECT_EQ(sensor_reads(), 2u);

    // A refused request is no reading either, not the old value made fresh.
    ASSERT_TRUE(zq::sim::refuse_request(dir(), "/dev/temp_sensor", ZQ_TEMP_SENSOR_READ, 0, 1));
    zq::port::sleep_ms(30000);
    EXPECT_EQ(ZQSDK_GetTempurature(&t), -1);
    EXPECT_EQ(ZQSDK_GetTempurature(&t), 0);
    EXPECT_EQ(t, 40);

    capture_output([] { EXPECT_EQ(ZQSDK_GetTempurature(nullptr), -1); });
}

TEST_F(BoardControlTest, RebootFlushesSyncsWaitsAndMutes) {
    freeze_clock(100);
    LogParam param{};
    std::strcpy(param.szFilePath, "/tmp/sdk.log");
    ASSERT_EQ(ZQSDK_SetLog2File(&param), 0);
    ZQSDK_SetLogLevel(ZQ_LOG_INFO);
    EXPECT_EQ(ZQSDK_SystemReboot(), 0);
    EXPECT_NE(zq::sim::read_board_file(dir(), "/tmp/sdk.log").find("Sys Will Reboot"),
              std::string::npos);
    std::string journal = zq::sim::read_board_file(dir(), "/journal");
    size_t sync = journal.find("sync file systems flushed");
    size_t reboot = journal.find("reboot command 0x1234567");
    ASSERT_NE(sync, std::string::npos);
    ASSERT_NE(reboot, std::string::npos);
    EXPECT_LT(sync, reboot);
    // Five board seconds pass between the flush and the restart.
    auto second_of = [&](size_t at) {
        size_t start = journal.rfind('\n', at);
        return journal.substr(start == std::string::npos ? 0 : start + 1, 4);
    };
    EXPECT_EQ(second_of(sync), "100.");
    EXPECT_EQ(second_of(reboot), "105.");

    ASSERT_TRUE(zq::sim::set_operation_failing(dir(), "reboot", true));
    EXPECT_EQ(ZQSDK_SystemReboot(), -1);
}

}  // namespace
