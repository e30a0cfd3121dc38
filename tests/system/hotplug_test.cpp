// The hot-plug monitor: which headers become which events, how a burst is
// collected, and the thread on a board whose clock runs a hundred times fast.
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "board.h"
#include "port/port.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "system/hotplug_parse.h"
#include "system/hotplug_thread.h"
#include "uevent.h"
#include "zq_hotplug.h"
#include "zq_log.h"

namespace port = zq::port;
namespace sim = zq::sim;
using sim::UeventAction;

namespace {

struct Want {
    s32 type, device, status;
    std::string name;
    bool operator==(const HotplugEvent &e) const {
        return type == e.s32EventType && device == e.s32DeviceType && status == e.s32Status &&
               name == e.szDevName;
    }
};

void collect(HotplugEvent *event, void *events) {
    static_cast<std::vector<HotplugEvent> *>(events)->push_back(*event);
}

std::vector<HotplugEvent> parse(const std::string &text) {
    std::vector<HotplugEvent> events;
    hotplug_parse_burst(text.c_str(), collect, &events);
    return events;
}

std::string lines(const std::vector<sim::Uevent> &burst) {
    std::string text;
    for (const sim::Uevent &e : burst) text += e.header + "\n";
    return text;
}

const std::string kSdHost = "add@/devices/platform/soc/arasan-sdhci.0/";
const std::string kSdCard = sim::sd_card_uevents(UeventAction::Add)[0].header;
const std::string kOtherPortEth3 =
    "add@/devices/platform/soc/ehci-platform.1/usb2/2-1/2-1:1.0/net/eth3";

// A header of `length` characters on the SD host ending with the block device.
std::string sd_block_header(size_t length) {
    return kSdHost + std::string(length - kSdHost.size() - 14, 'x') + "/block/mmcblk0";
}

TEST(HotplugParseTest, HeadersGiveTheirEvents) {
    const Want sdIn{1, 1, 1, "mmcblk0"};
    struct Case {
        const char *what;
        std::string text;
        std::vector<Want> want;
    } cases[] = {
        {"SD card inserted", lines(sim::sd_card_uevents(UeventAction::Add)), {sdIn}},
        {"SD card removed",
         lines(sim::sd_card_uevents(UeventAction::Remove)),
         {{1, 1, 0, "mmcblk0"}}},
        {"adapter eth1 on port 1-1",
         lines(sim::usb_ethernet_uevents(1, UeventAction::Add)),
         {{2, 2, 1, "eth1"}}},
        {"adapter eth12", lines(sim::usb_ethernet_uevents(12, UeventAction::Add)), {}},
        // Half events never complete each other, in either order.
        {"fields of one header carried to the next",
         kSdCard + "\n" + kOtherPortEth3 + "\nadd@/devices/virtual/net/eth0\n" + kSdCard,
         {}},
        {"header of 255 characters", sd_block_header(255), {sdIn}},
        {"header of 256 characters: its end is cut", sd_block_header(256), {}},
        {"empty lines and other actions",
         "\n\nchange" + sd_block_header(80).substr(3) + "\n\n" + sd_block_header(80) + "\n",
         {sdIn}},
    };
    for (const Case &c : cases) {
        std::vector<HotplugEvent> got = parse(c.text);
        ASSERT_EQ(got.size(), c.want.size()) << c.what;
        for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(c.want[i] == got[i]) << c.what;
    }
}

TEST(HotplugParseTest, LogsEachLineAndItsOutcome) {
    ZQSDK_SetLogLevel(ZQ_LOG_DEBUG);
    Captured c = capture_output([] { parse(kSdCard + "\n" + sd_block_header(80)); });
    for (const std::string &line : std::vector<std::string>{
             "==> SystemHotPlugDetectPthread(",
             "[DEBUG]: line[" + kSdCard + "]\n",
             "[DEBUG]: Hotplus parse failed, event type 1 device type 0 status 1 device name \n",
             "[INFO]: Hotplus event type 1 device type 1 status 1 device name mmcblk0\n",
         })
        EXPECT_NE(c.out.find(line), std::string::npos) << line << "\nin\n" << c.out;
}

// A datagram's header is at most 255 characters, with or without a NUL; a
// burst that outgrows its buffer is delivered early, losing no header.
TEST(HotplugParseTest, CollectsHeadersWithinTheirBuffers) {
    HotplugBurst burst;
    hotplug_burst_clear(burst);
    std::vector<HotplugEvent> events;
    char buffer[kHotplugRecvBytes];
    std::memset(buffer, 'a', sizeof buffer);
    hotplug_burst_take(burst, buffer, sizeof buffer, collect, &events);
    EXPECT_EQ(std::string(burst.text), std::string(255, 'a') + "\n");

    hotplug_burst_clear(burst);
    const std::string header = sd_block_header(200);
    for (int i = 0; i < 11; ++i) {
        std::snprintf(buffer, sizeof buffer, "%s%cACTION=add", header.c_str(), '\0');
        hotplug_burst_take(burst, buffer, header.size() + 12, collect, &events);
    }
    EXPECT_EQ(events.size(), 10u);  // ten lines of 201 bytes fill the 2048
    EXPECT_EQ(std::string(burst.text), header + "\n");
    hotplug_burst_end(burst, collect, &events);
    EXPECT_EQ(events.size(), 11u);
    EXPECT_EQ(burst.length, 0u);
}

// What the callback got, and when on the board clock.
std::mutex g_lock;
std::vector<std::pair<HotplugEvent, uint64_t>> g_received;

void record(HotplugEvent *event) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_received.emplace_back(*event, port::monotonic_ns());
}

std::vector<std::pair<HotplugEvent, uint64_t>> received() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_received;
}

template <typename Done>
bool eventually(Done done) {
    for (int i = 0; i < 20000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    return done();
}

class HotplugMonitorTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        ASSERT_TRUE(sim::set_clock_speed(dir(), 100));
    }
    bool listening() const {
        return std::filesystem::exists(dir() + "/uevent/" + std::to_string(getpid()));
    }
    void start() {
        ASSERT_EQ(pthread_create(&thread_, nullptr, SystemHotPlugDetectPthread, nullptr), 0);
        ASSERT_TRUE(eventually([&] { return listening(); }));
    }
    // Waits for the first event and a quiet period more, then ends the monitor.
    std::vector<std::pair<HotplugEvent, uint64_t>> stop_after_first_event() {
        EXPECT_TRUE(eventually([] { return !received().empty(); }));
        port::sleep_ms(6000);
        hotplug_monitor_stop();
        void *result = ZQ_HOTPLUG_THREAD_FAILED;
        EXPECT_EQ(pthread_join(thread_, &result), 0);
        EXPECT_EQ(result, nullptr);
        EXPECT_FALSE(listening());  // the socket's file went with it
        return received();
    }
    pthread_t thread_{};
};

TEST_F(HotplugMonitorTest, SdCardReachesTheCallbackOnceAfterThreeQuietSeconds) {
    ASSERT_EQ(ZQSDK_RegisterSystemHotplugEventFunc(record), 0);
    Captured c =
        capture_output([] { EXPECT_EQ(ZQSDK_RegisterSystemHotplugEventFunc(nullptr), -1); });
    EXPECT_NE(c.err.find("<zq_system> ==> ZQSDK_RegisterSystemHotplugEventFunc("),
              std::string::npos);
    EXPECT_NE(c.err.find("[ERROR]: pfHotplugEventCb is NULL !\n"), std::string::npos);
    start();
    uint64_t sent = port::monotonic_ns();
    ASSERT_EQ(sim::send_uevents(dir(), sim::sd_card_uevents(UeventAction::Add)), 3);
    auto got = stop_after_first_event();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE((Want{1, 1, 1, "mmcblk0"} == got[0].first));
    EXPECT_GE(got[0].second - sent, 3'000'000'000u);
}

TEST_F(HotplugMonitorTest, UsbAdapterAfterHalfEventsIsTheOnlyEvent) {
    ASSERT_EQ(ZQSDK_RegisterSystemHotplugEventFunc(record), 0);
    start();
    for (const std::string &half : {kSdCard, kOtherPortEth3})
        ASSERT_EQ(sim::send_uevent(dir(), half, {}), 1);
    ASSERT_EQ(sim::send_uevents(dir(), sim::usb_ethernet_uevents(1, UeventAction::Add)), 5);
    auto got = stop_after_first_event();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE((Want{2, 2, 1, "eth1"} == got[0].first));
}

TEST_F(HotplugMonitorTest, EndsWithFailureWhenItsSocketCannotBeMadeOrBound) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "socket:uevent", true));
    EXPECT_EQ(SystemHotPlugDetectPthread(nullptr), ZQ_HOTPLUG_THREAD_FAILED);
    ASSERT_TRUE(sim::set_device_missing(dir(), "socket:uevent", false));
    // Another socket holds the port of this process.
    int other = port::socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{AF_NETLINK, 0, static_cast<uint32_t>(getpid()), 1};
    ASSERT_EQ(port::bind(other, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    EXPECT_EQ(SystemHotPlugDetectPthread(nullptr), ZQ_HOTPLUG_THREAD_FAILED);
    std::string port = std::to_string(getpid());
    EXPECT_EQ(journal_events("socket:uevent"),
              (std::vector<std::string>{
                  "socket refused: family missing", "bind port " + port + " groups 0x1",
                  "setsockopt SO_RCVBUFFORCE 16384",
                  "bind port " + port + " refused: Address already in use", "close"}));
    port::close(other);
}

TEST_F(HotplugMonitorTest, CancellationClosesTheSocket) {
#if defined(__SANITIZE_ADDRESS__) && !defined(__clang__)
    GTEST_SKIP() << "GCC's AddressSanitizer does not follow the unwinding of a cancellation";
#endif
    start();
    ASSERT_EQ(pthread_cancel(thread_), 0);
    void *result = nullptr;
    ASSERT_EQ(pthread_join(thread_, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_FALSE(listening());
}

}  // namespace
