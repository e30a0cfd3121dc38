// The hot-plug monitor on the real kernel's uevent socket: real events from
// module loads and sysfs "uevent" writes (none of them the board's SD card or
// USB adapter) give no callback, even in a burst; datagrams that a root
// process multicasts for the board's paths, as the kernel would send them,
// give exactly their callbacks.
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "kernel_support.h"
#include "zq_hotplug.h"

namespace {

std::mutex g_Mutex;
std::vector<std::string> g_Events;

void record(HotplugEvent *event) {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Events.push_back(std::to_string(event->s32EventType) + " " +
                       std::to_string(event->s32DeviceType) + " " +
                       std::to_string(event->s32Status) + " " + event->szDevName);
}
std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(g_Mutex);
    return g_Events;
}

// Sends one event as the kernel does: "ACTION@DEVPATH", NUL, then the
// KEY=VALUE lines, each NUL-terminated, to multicast group 1.
void multicast(const std::string &action, const std::string &path) {
    const int fd = socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
    ASSERT_GE(fd, 0);
    std::string message = action + "@" + path;
    message += '\0';
    for (const std::string &pair :
         {"ACTION=" + action, "DEVPATH=" + path, std::string("SEQNUM=1")}) {
        message += pair;
        message += '\0';
    }
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_groups = 1;
    EXPECT_EQ(
        sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
        static_cast<ssize_t>(message.size()))
        << std::strerror(errno);
    close(fd);
}

class HotplugTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ZQSDK_RegisterSystemHotplugEventFunc(record), 0);
        ASSERT_EQ(pthread_create(&m_Thread, nullptr, SystemHotPlugDetectPthread, nullptr), 0);
        kb::sh("sleep 0.5");  // bound
    }
    void TearDown() override {
        pthread_cancel(m_Thread);
        pthread_join(m_Thread, nullptr);
    }
    pthread_t m_Thread{};
};

TEST_F(HotplugTest, RealKernelEventsOfOtherDevicesGiveNoCallback) {
    // A module load, a dummy interface named like a wired one but not on USB,
    // and a burst of sysfs events larger than the monitor's socket buffer.
    ASSERT_TRUE(
        kb::ran("modprobe veth && ip link add eth5 type dummy && "
                "echo add >/sys/class/net/eth5/uevent && "
                "for i in $(seq 300); do echo change >/sys/class/net/lo/uevent; done"));
    kb::sh("ip link del eth5; sleep 4.5");
    EXPECT_TRUE(events().empty()) << events().front();

    // The monitor still listens after the burst.
    multicast("add", "/devices/platform/soc/arasan-sdhci.0/mmc_host/mmc0/mmc0:0001/block/mmcblk0");
    EXPECT_TRUE(kb::wait_for([] { return !events().empty(); }, 6));
    EXPECT_EQ(events(), std::vector<std::string>{"1 1 1 mmcblk0"});
}

TEST_F(HotplugTest, BoardPathsGiveTheirCallbacksInOrder) {
    const std::string usb = "/devices/platform/soc/10030000.ehci/usb1/1-1/1-1:1.0/net/eth1";
    const std::string sd =
        "/devices/platform/soc/arasan-sdhci.0/mmc_host/mmc0/mmc0:0001/block/mmcblk0";
    multicast("add", usb);
    multicast("add", sd);
    multicast("add", sd + "/mmcblk0p1");  // the partition: no callback of its own
    multicast("remove", usb);
    multicast("remove", sd);
    EXPECT_TRUE(kb::wait_for([] { return events().size() >= 4; }, 6));
    kb::sh("sleep 1");
    EXPECT_EQ(events(), (std::vector<std::string>{"2 2 1 eth1", "1 1 1 mmcblk0", "2 2 0 eth1",
                                                  "1 1 0 mmcblk0"}));
}

}  // namespace
