// Interface queries on real interfaces: addresses from the kernel's own
// requests, the gateway from the real routing table, a renamed interface.
#include <gtest/gtest.h>

#include <string>

#include "kernel_support.h"
#include "zq_net.h"

namespace {

std::string mac_of(const std::string &name) {
    std::string mac = kb::read_file("/sys/class/net/" + name + "/address");
    return mac.substr(0, mac.find('\n'));
}

TEST(InterfaceQueryTest, AddressesAndGatewayFromTheRealKernel) {
    ASSERT_TRUE(
        kb::ran("ip link del eth0 2>/dev/null; modprobe dummy numdummies=0 && ip link add "
                "eth0 type dummy && "
                "ip addr add 10.0.2.15/24 dev eth0 && ip link set eth0 up && "
                "ip route add default via 10.0.2.2 dev eth0"));
    EthAttr attr;
    ASSERT_EQ(ZQSDK_WifiGetEthAttr("eth0", &attr), 0);
    EXPECT_EQ(attr.szMac, mac_of("eth0"));
    EXPECT_STREQ(attr.szIp, "10.0.2.15");
    EXPECT_STREQ(attr.szNetmask, "255.255.255.0");
    // The kernel lists the default route first.
    EXPECT_STREQ(attr.szGateway, "10.0.2.2") << kb::read_file("/proc/net/route");

    // Without the default route, the interface's first row is its network.
    kb::sh("ip route del default");
    ASSERT_EQ(ZQSDK_WifiGetEthAttr("eth0", &attr), 0);
    EXPECT_STREQ(attr.szGateway, "0.0.0.0");
}

TEST(InterfaceQueryTest, RenamedInterfaceWithoutAddressGivesItsMac) {
    ASSERT_TRUE(
        kb::ran("ip link del eth2 2>/dev/null; modprobe dummy numdummies=0 && ip link add "
                "spare type dummy && "
                "ip link set spare name eth2 && ip link set eth2 address 02:5a:51:3e:08:12 && "
                "ip link set eth2 up"));
    EthAttr attr;
    EXPECT_EQ(ZQSDK_WifiGetEthAttr("eth2", &attr), -1) << "no IPv4 address yet";
    EXPECT_STREQ(attr.szMac, "02:5a:51:3e:08:12");
    EXPECT_STREQ(attr.szIp, "");
    EXPECT_STREQ(attr.szGateway, "");

    EXPECT_EQ(ZQSDK_WifiGetEthAttr("eth7", &attr), -1);
    EXPECT_STREQ(attr.szMac, "");
}

}  // namespace
