// The interface queries: the record ZQSDK_WifiGetEthAttr fills and what each failure
// leaves in it, the names CheckEthExist takes, the mode GetEthMode reads from ifconfig.
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>
#include <utility>

#include "emul/board.h"
#include "emul/net.h"
#include "net/wifi_state.h"
#include "port/port.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_net.h"

namespace {

namespace sim = zq::sim;
using zq::wifi::CheckEthExist;
using zq::wifi::g_WifiState;
using Query = std::tuple<int, std::string, std::string>;  // result, all 66 bytes, standard error

const char *const kMac = "02:5a:51:3e:08:12";

std::string without_line_numbers(const std::string &err) {
    return std::regex_replace(err, std::regex("\\([0-9]+\\)\\[ERROR\\]"), "(N)[ERROR]");
}
// The SDK log's ERROR line of function, with the line number taken out.
std::string error_line(const char *function, const std::string &text) {
    return std::string("\033[1;31m[2026-01-02 03:04:05] <wifi> ==> ") + function +
           "(N)[ERROR]: " + text + "\033[0;39m\n";
}
std::string open_failed(const std::string &what) {
    return error_line("ZQSDK_WifiGetEthAttr", "open " + what + " failed\n");
}

// The 66 bytes a query should leave: the four texts, each NUL-padded to its field.
std::string record(std::string mac, std::string ip, std::string mask, std::string gw) {
    mac.resize(18), ip.resize(16), mask.resize(16), gw.resize(16);
    return mac + ip + mask + gw;
}
const std::string kEth2 = record(kMac, "192.168.1.88", "255.255.255.0", "192.168.1.1");
const std::string kNoRecord = record("", "", "", "");

// With withoutDescriptors, every descriptor is taken while the query runs.
Query query(const char *name, bool withoutDescriptors = false) {
    int rc = 0;
    EthAttr attr;
    std::memset(&attr, 0x5A, sizeof attr);
    std::string err = capture_output([&] {
                          struct rlimit saved {};
                          getrlimit(RLIMIT_NOFILE, &saved);
                          struct rlimit tight = saved;
                          tight.rlim_cur = static_cast<rlim_t>(dup(0));  // all below it are in use
                          close(static_cast<int>(tight.rlim_cur));
                          if (withoutDescriptors) setrlimit(RLIMIT_NOFILE, &tight);
                          rc = ZQSDK_WifiGetEthAttr(name, &attr);
                          setrlimit(RLIMIT_NOFILE, &saved);
                      }).err;
    return {rc, std::string(reinterpret_cast<const char *>(&attr), sizeof attr),
            without_line_numbers(err)};
}

// GetEthMode for the interface name; err gets standard error.
int mode(const std::string &name, std::string *err = nullptr) {
    std::memset(g_WifiState.g_EthName, 0, sizeof g_WifiState.g_EthName);
    name.copy(g_WifiState.g_EthName, sizeof g_WifiState.g_EthName);
    int result = 0;
    Captured c = capture_output([&] { result = zq::wifi::GetEthMode(); });
    if (err) *err = without_line_numbers(c.err);
    return result;
}

sim::NetInterface wifi(const char *name, bool monitor, const char *mac = "02:5a:51:00:00:07") {
    sim::NetInterface i;
    i.name = name;
    i.mac = mac;
    i.monitor = monitor;
    return i;
}
// The board's eth2 as a new board has it.
sim::NetInterface eth2() {
    sim::NetInterface i = wifi("eth2", false, kMac);
    i.ipv4 = "192.168.1.88";
    i.netmask = "255.255.255.0";
    i.routes = {{"0.0.0.0", "192.168.1.1", "0.0.0.0"}, {"192.168.1.0", "0.0.0.0", "255.255.255.0"}};
    return i;
}

// Tests that compare log lines first freeze the clock at 2026-01-02 03:04:05.
using EthAttrTest = VBoardTest;
using EthModeTest = VBoardTest;

TEST_F(EthAttrTest, EachFailureLeavesWhatWasReadBeforeIt) {
    freeze_clock(60);
    zq::port::access("/", F_OK);  // the board is active before the descriptors run out
    EXPECT_EQ(query("eth2", true), Query(-1, kNoRecord, open_failed("file /proc/net/route")));
    ASSERT_TRUE(sim::set_device_missing(dir(), "socket:inet", true));
    EXPECT_EQ(query("eth2"),
              Query(-1, record(kMac, "", "", "192.168.1.1"),
                    "create socket failed:: Address family not supported by protocol\n"));
    ASSERT_TRUE(sim::set_device_missing(dir(), "socket:inet", false) &&
                sim::refuse_request(dir(), "socket:inet", SIOCGIFNETMASK, 0, -1, EPERM));
    EXPECT_EQ(query("eth2"), Query(-1, record(kMac, "192.168.1.88", "", "192.168.1.1"),
                                   "ioctl SIOCGIFBRDADDR error: Operation not permitted\n"));
}

// A new board's eth2 fills all four fields. The MAC is the first non-empty
// line of the address file, cut to 17 characters; the gateway that of the
// interface's first routing row.
TEST_F(EthAttrTest, FillsAllFourFieldsWithTheMacAndTheGatewayFromTheirSources) {
    EXPECT_EQ(query("eth2"), Query(0, kEth2, ""));
    EXPECT_EQ(journal_events("socket:inet").back(), "close");
    EXPECT_EQ(query(nullptr), Query(-1, std::string(66, 0x5A), ""));  // the record untouched

    const char *cases[][2] = {{kMac, kMac},  // no newline
                              {"\n\n0a:0b:0c:0d:0e:0f\n", "0a:0b:0c:0d:0e:0f"},
                              {"00:11:22:33:44:55:66:77:88\n", "00:11:22:33:44:55"},
                              {"junk\nff:ff:ff:ff:ff:ff\n", "junk"},
                              {"\n", ""}};
    for (const auto &c : cases) {
        std::ofstream(host("/sys/class/net/eth2/address"), std::ios::trunc) << c[0];
        EXPECT_EQ(query("eth2"),
                  Query(0, record(c[1], "192.168.1.88", "255.255.255.0", "192.168.1.1"), ""));
    }
    sim::NetInterface other = eth2(), iface = eth2();
    other.name = "eth20";  // listed first, and only a longer name
    other.routes = {{"0.0.0.0", "10.0.0.1", "0.0.0.0"}};
    std::swap(iface.routes[0], iface.routes[1]);  // the route without gateway first
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2") && sim::set_interface(dir(), other) &&
                sim::set_interface(dir(), iface));
    EXPECT_EQ(query("eth2"),
              Query(0, record(kMac, "192.168.1.88", "255.255.255.0", "0.0.0.0"), ""));
    iface.routes.clear();
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    EXPECT_EQ(query("eth2"), Query(0, record(kMac, "192.168.1.88", "255.255.255.0", ""), ""));
}

TEST_F(EthModeTest, TheListedHardwareAddressTellsTheMode) {
    ASSERT_TRUE(sim::set_interface(dir(), wifi("wlan0", true)) &&
                sim::set_interface(dir(), wifi("wlan1", false)) &&
                sim::set_interface(dir(), wifi("wlan2", false, "00:00:00:00:00:00")));  // no HWaddr
    EXPECT_EQ(mode("wlan0"), WIFI_MODE_MONITOR);
    for (const char *name : {"wlan1", "wlan2", "eth2"})
        EXPECT_EQ(mode(name), WIFI_MODE_MANAGED) << name;
    // Before initialisation the first address listed decides: lo lists none.
    EXPECT_EQ(mode(""), WIFI_MODE_MANAGED);
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2") && sim::set_interface(dir(), eth2()));
    EXPECT_EQ(mode(""), WIFI_MODE_MONITOR);  // wlan0 now comes before eth2
}

// Names go into paths and shell commands: only whole plain names of up to 15
// characters (the kernel cuts a longer one) reach a file, a request or the
// shell, even where a directory of that name holds an address.
TEST_F(EthModeTest, OnlyWholePlainNamesReachFilesRequestsOrTheShell) {
    freeze_clock(60);
    sim::NetInterface longest = eth2();
    longest.name = "wlx0a0b0c0d0e0f";
    ASSERT_TRUE(sim::set_interface(dir(), longest) &&
                sim::set_interface(dir(), wifi("wlan0abcdefg", false)) &&
                sim::set_interface(dir(), wifi("p2p-wlan0_0.1", false)));
    for (const char *name : {"eth2", "lo", "", "wlan0abcdefg", "wlx0a0b0c0d0e0f", "p2p-wlan0_0.1"})
        EXPECT_EQ(CheckEthExist(name), 0) << '"' << name << '"';
    EXPECT_EQ(CheckEthExist(nullptr), -1);
    // Two absent (a 12-character prefix must not stand for a longer name), then
    // names no interface can have, each a directory with an address if it can be.
    std::vector<std::string> refused = {
        "eth9",       "wlan0abcdefgh", "wlx0a0b0c0d0e0fX", "..",           "eth2/.",
        "eth2/../lo", "eth2 ",         "eth2;id",          "eth2\" -e \"", "$(id)",
        "`id`",       "eth2|id",       "eth2 -v"};
    refused.insert(refused.end(), {std::string(32, 'w'), std::string(300, 'e')});
    std::error_code ec;
    for (size_t i = 2; i < refused.size(); ++i)
        if (std::filesystem::create_directories(host("/sys/class/net/" + refused[i]), ec))
            std::ofstream(host("/sys/class/net/" + refused[i] + "/address")) << kMac;
    for (const std::string &name : refused) {
        std::string err;
        EXPECT_EQ(CheckEthExist(name.c_str()), -1) << name;
        EXPECT_EQ(mode(name, &err), -1) << name;
        EXPECT_EQ(err, error_line("GetEthMode", "Eth name ivalid, " + name.substr(0, 32) + "\n"));
        std::string path = ("/sys/class/net/" + name + "/address").substr(0, 127);
        EXPECT_EQ(query(name.c_str()), Query(-1, kNoRecord, open_failed(path))) << name;
    }
    EXPECT_TRUE(journal_events("socket:inet").empty());
    for (const std::string &command : journal_events("shell"))
        EXPECT_EQ(command.find("ifconfig"), std::string::npos) << command;
    EXPECT_EQ(query("wlx0a0b0c0d0e0f"), Query(0, kEth2, ""));  // the longest name the kernel allows
}

}  // namespace
