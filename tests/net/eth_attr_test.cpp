// The interface queries: the record ZQSDK_WifiGetEthAttr fills and what each failure
// leaves in it, and the names CheckEthExist takes.
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "emul/board.h"
#include "emul/net.h"
#include "net/wifi_state.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_net.h"

namespace {

namespace sim = zq::sim;
using zq::wifi::CheckEthExist;
using Query = std::pair<int, std::string>;  // result, all 66 bytes

const char *const kMac = "02:5a:51:3e:08:12";

// The 66 bytes a query should leave: the four texts, each NUL-padded to its field.
std::string record(std::string mac, std::string ip, std::string mask, std::string gw) {
    mac.resize(18), ip.resize(16), mask.resize(16), gw.resize(16);
    return mac + ip + mask + gw;
}
const std::string kEth2 = record(kMac, "192.168.1.88", "255.255.255.0", "192.168.1.1");
const std::string kNoRecord = record("", "", "", "");

Query query(const char *name) {
    int rc = 0;
    EthAttr attr;
    std::memset(&attr, 0x5A, sizeof attr);
    capture_output([&] { rc = ZQSDK_WifiGetEthAttr(name, &attr); });
    return {rc, std::string(reinterpret_cast<const char *>(&attr), sizeof attr)};
}

sim::NetInterface wifi(const char *name) {
    sim::NetInterface i;
    i.name = name;
    i.mac = "02:5a:51:00:00:07";
    return i;
}
// The board's eth2 as a new board has it.
sim::NetInterface eth2() {
    sim::NetInterface i = wifi("eth2");
    i.mac = kMac;
    i.ipv4 = "192.168.1.88";
    i.netmask = "255.255.255.0";
    i.routes = {{"0.0.0.0", "192.168.1.1", "0.0.0.0"}, {"192.168.1.0", "0.0.0.0", "255.255.255.0"}};
    return i;
}

using EthAttrTest = VBoardTest;

// A board directory whose name holds a blank and a quote: the route table
// is still read as one path, and no part of the name runs as shell text.
class OddBoardPathTest : public VBoardTest {
  protected:
    void SetUp() override {
        const char *tmp = std::getenv("TMPDIR");
        previous_ = tmp ? tmp : "";
        odd_ = (previous_.empty() ? std::string("/tmp") : previous_) + "/zq odd'$(touch x)";
        std::filesystem::create_directories(odd_);
        setenv("TMPDIR", odd_.c_str(), 1);
        VBoardTest::SetUp();
    }
    void TearDown() override {
        VBoardTest::TearDown();
        previous_.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", previous_.c_str(), 1);
        std::error_code ec;
        std::filesystem::remove_all(odd_, ec);
    }
    std::string previous_, odd_;
};

TEST_F(OddBoardPathTest, GatewayComesFromTheRouteTable) {
    EXPECT_EQ(query("eth2"), Query(0, kEth2));
    EXPECT_FALSE(std::filesystem::exists("x"));
}

TEST_F(EthAttrTest, EachFailureLeavesWhatWasReadBeforeIt) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "socket:inet", true));
    EXPECT_EQ(query("eth2"), Query(-1, record(kMac, "", "", "192.168.1.1")));
    ASSERT_TRUE(sim::set_device_missing(dir(), "socket:inet", false) &&
                sim::refuse_request(dir(), "socket:inet", SIOCGIFNETMASK, 0, -1, EPERM));
    EXPECT_EQ(query("eth2"), Query(-1, record(kMac, "192.168.1.88", "", "192.168.1.1")));
}

// The MAC is the first non-empty line of the address file, cut to 17
// characters; the gateway that of the interface's first routing row.
TEST_F(EthAttrTest, FillsAllFourFieldsWithTheMacAndTheGatewayFromTheirSources) {
    EXPECT_EQ(query("eth2"), Query(0, kEth2));
    EXPECT_EQ(journal_events("socket:inet").back(), "close");
    EXPECT_EQ(query(nullptr), Query(-1, std::string(66, 0x5A)));  // the record untouched

    const char *cases[][2] = {{kMac, kMac},  // no newline
                              {"\n\n0a:0b:0c:0d:0e:0f\n", "0a:0b:0c:0d:0e:0f"},
                              {"00:11:22:33:44:55:66:77:88\n", "00:11:22:33:44:55"}};
    for (const auto &c : cases) {
        std::ofstream(host("/sys/class/net/eth2/address"), std::ios::trunc) << c[0];
        EXPECT_EQ(query("eth2"),
                  Query(0, record(c[1], "192.168.1.88", "255.255.255.0", "192.168.1.1")));
    }
    sim::NetInterface other = eth2(), iface = eth2();
    other.name = "eth20";  // listed first, and only a longer name
    other.routes = {{"0.0.0.0", "10.0.0.1", "0.0.0.0"}};
    std::swap(iface.routes[0], iface.routes[1]);  // the route without gateway first
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2") && sim::set_interface(dir(), other) &&
                sim::set_interface(dir(), iface));
    EXPECT_EQ(query("eth2"), Query(0, record(kMac, "192.168.1.88", "255.255.255.0", "0.0.0.0")));
    iface.routes.clear();
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    EXPECT_EQ(query("eth2"), Query(0, record(kMac, "192.168.1.88", "255.255.255.0", "")));
}

// Names go into paths and shell commands: only whole plain names of up to 15
// characters (the kernel cuts a longer one) reach a file, a request or the
// shell, even where a directory of that name holds an address.
TEST_F(EthAttrTest, OnlyWholePlainNamesReachFilesRequestsOrTheShell) {
    sim::NetInterface longest = eth2();
    longest.name = "wlx0a0b0c0d0e0f";
    ASSERT_TRUE(sim::set_interface(dir(), longest) &&
                sim::set_interface(dir(), wifi("wlan0abcdefg")) &&
                sim::set_interface(dir(), wifi("p2p-wlan0_0.1")));
    for (const char *name : {"eth2", "", "wlan0abcdefg", "wlx0a0b0c0d0e0f", "p2p-wlan0_0.1"})
        EXPECT_EQ(CheckEthExist(name), 0) << '"' << name << '"';
    EXPECT_EQ(CheckEthExist(nullptr), -1);
    // Two absent (a 12-character prefix must not stand for a longer name), then
    // names no interface can have, each a directory with an address if it can be.
    std::vector<std::string> refused = {"eth9",    "wlan0abcdefgh", "wlx0a0b0c0d0e0fX",
                                        "..",      "eth2/../lo",    "eth2 ",
                                        "eth2;id", "$(id)",         std::string(300, 'e')};
    std::error_code ec;
    for (size_t i = 2; i < refused.size(); ++i)
        if (std::filesystem::create_directories(host("/sys/class/net/" + refused[i]), ec))
            std::ofstream(host("/sys/class/net/" + refused[i] + "/address")) << kMac;
    for (const std::string &name : refused) {
        EXPECT_EQ(CheckEthExist(name.c_str()), -1) << name;
        std::memset(zq::wifi::g_WifiState.g_EthName, 0, sizeof zq::wifi::g_WifiState.g_EthName);
        name.copy(zq::wifi::g_WifiState.g_EthName, sizeof zq::wifi::g_WifiState.g_EthName);
        capture_output([] { EXPECT_EQ(zq::wifi::GetEthMode(), -1); });
        EXPECT_EQ(query(name.c_str()), Query(-1, kNoRecord)) << name;
    }
    EXPECT_TRUE(journal_events("socket:inet").empty());
    for (const std::string &command : journal_events("shell"))
        EXPECT_EQ(command.find("ifconfig"), std::string::npos) << command;
    EXPECT_EQ(query("wlx0a0b0c0d0e0f"), Query(0, kEth2));  // the longest name the kernel allows
}

}  // namespace
