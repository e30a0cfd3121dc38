// The hot-plug monitor: which headers become which events, how a burst is
// collected, and the thread on a board whose clock runs a hundred times fast.
#include <linux/netlink.h>
#include <pthread.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <mutex>

#include "emul/board.h"
#include "emul/uevent.h"
#include "port/port.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "system/hotplug_parse.h"
#include "system/hotplug_thread.h"
#include "zq_hotplug.h"
#include "zq_log.h"

namespace port = zq::port;
namespace sim = zq::sim;
using sim::UeventAction;

namespace {

using Events = std::vector<std::string>;

// An event as "type/device/status name".
void collect(HotplugEvent *e, void *events) {
    static_cast<Events *>(events)->push_back(std::to_string(e->s32EventType) + "/" +
                                             std::to_string(e->s32DeviceType) + "/" +
                                             std::to_string(e->s32Status) + " " + e->szDevName);
}

std::string lines(const std::vector<sim::Uevent> &burst) {
    std::string text;
    for (const sim::Uevent &e : burst) text += e.header + "\n";
    return text;
}

const std::string kSdHost = "add@/devices/platform/soc/arasan-sdhci.0/";
const std::string kOtherPortEth3 =
    "add@/devices/platform/soc/ehci-platform.1/usb2/2-1/2-1:1.0/net/eth3";

// A header of `length` characters on the SD host ending with the block device.
std::string sd_block_header(size_t length) {
    return kSdHost + std::string(length - kSdHost.size() - 14, 'x') + "/block/mmcblk0";
}

TEST(HotplugParseTest, HeadersGiveTheirEvents) {
    const std::pair<std::string, Events> cases[] = {
        {lines(sim::sd_card_uevents(UeventAction::Remove)), {"1/1/0 mmcblk0"}},
        {sd_block_header(255), {"1/1/1 mmcblk0"}},
        {sd_block_header(256), {}},  // the end is cut
    };
    for (const auto &[text, want] : cases) {
        Events events;
        hotplug_parse_burst(text.c_str(), collect, &events);
        EXPECT_EQ(events, want) << text;
    }
}

// A datagram's header is at most 255 characters, with or without a NUL; a
// burst that outgrows its buffer is delivered early, losing no header.
TEST(HotplugParseTest, CollectsHeadersWithinTheirBuffers) {
    HotplugBurst burst;
    hotplug_burst_clear(burst);
    Events events;
    char buffer[kHotplugRecvBytes];
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
Events g_received;
uint64_t g_firstAt = 0;

void record(HotplugEvent *event) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_received.empty()) g_firstAt = port::monotonic_ns();
    collect(event, &g_received);
}

Events received() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_received;
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
    Events stop_after_first_event() {
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

// Half events first (a USB adapter on another port, an SD card's host): no
// header completes the event of another.
TEST_F(HotplugMonitorTest, BurstReachesTheCallbackOnceAfterThreeQuietSeconds) {
    ASSERT_EQ(ZQSDK_RegisterSystemHotplugEventFunc(record), 0);
    ZQSDK_SetLogLevel(ZQ_LOG_DEBUG);
    uint64_t sent = 0;
    Captured c = capture_output([&] {
        EXPECT_EQ(ZQSDK_RegisterSystemHotplugEventFunc(nullptr), -1);  // the earlier one stays
        start();
        sent = port::monotonic_ns();
        ASSERT_EQ(sim::send_uevent(dir(), kOtherPortEth3, {}), 1);
        ASSERT_EQ(sim::send_uevents(dir(), sim::sd_card_uevents(UeventAction::Add)), 3);
        ASSERT_EQ(sim::send_uevents(dir(), sim::usb_ethernet_uevents(1, UeventAction::Add)), 5);
        // Registered again and again while the monitor hands events over: no race.
        EXPECT_TRUE(eventually([] {
            return ZQSDK_RegisterSystemHotplugEventFunc(record) == 0 && !received().empty();
        }));
        EXPECT_EQ(stop_after_first_event(), (Events{"1/1/1 mmcblk0", "2/2/1 eth1"}));
    });
    EXPECT_GE(g_firstAt - sent, 3'000'000'000u);
    // Errors go to standard error, the rest (here the burst at DEBUG) to standard output.
    EXPECT_NE(c.err.find("[ERROR]: pfHotplugEventCb is NULL !\n"), std::string::npos);
    EXPECT_NE(c.out.find("[DEBUG]: buffer[" + kOtherPortEth3 + "\n"), std::string::npos);
}

TEST_F(HotplugMonitorTest, EndsWithFailureWhenItsSocketCannotBeBound) {
    // Another socket holds the port of this process.
    int other = port::socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{AF_NETLINK, 0, static_cast<uint32_t>(getpid()), 1};
    ASSERT_EQ(port::bind(other, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    EXPECT_EQ(SystemHotPlugDetectPthread(nullptr), ZQ_HOTPLUG_THREAD_FAILED);
    EXPECT_EQ(journal_events("socket:uevent").back(), "close");  // the refused socket's
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
