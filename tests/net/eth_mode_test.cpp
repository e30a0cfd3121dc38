// CheckEthExist and GetEthMode: which names count as existing interfaces,
// and the mode read from the interface's ifconfig listing.
#include <filesystem>
#include <vector>

#include "net_fixture.h"
#include "support/capture.h"

namespace {

namespace sim = zq::sim;
using zq::wifi::CheckEthExist;
using zq::wifi::g_WifiState;

class EthModeTest : public NetTest {
  protected:
    static sim::NetInterface wifi(const char *name, bool monitor) {
        sim::NetInterface i;
        i.name = name;
        i.mac = "02:5a:51:00:00:07";
        i.monitor = monitor;
        return i;
    }
    // GetEthMode for the interface name; err gets standard error.
    static int mode(const std::string &name, std::string *err = nullptr) {
        std::memset(g_WifiState.g_EthName, 0, sizeof g_WifiState.g_EthName);
        name.copy(g_WifiState.g_EthName, sizeof g_WifiState.g_EthName);
        int result = 0;
        Captured c = capture_output([&] { result = zq::wifi::GetEthMode(); });
        if (err) *err = without_line_numbers(c.err);
        return result;
    }
};

TEST_F(EthModeTest, ExistenceTakesWholeInterfaceNamesOnly) {
    // A 12-character prefix that exists must not stand for a longer name.
    for (const char *name : {"wlan0abcdefg", "wlx0a0b0c0d0e0f", "p2p-wlan0_0.1"})
        ASSERT_TRUE(sim::set_interface(dir(), wifi(name, false)));
    std::filesystem::create_directories(host("/sys/class/net/a;b"));
    for (const char *name : {"eth2", "lo", "", "wlan0abcdefg", "wlx0a0b0c0d0e0f", "p2p-wlan0_0.1"})
        EXPECT_EQ(CheckEthExist(name), 0) << '"' << name << '"';
    for (const char *name :
         {"eth9", "wlan0abcdefgh", "wlx0a0b0c0d0e0f0", "..", "eth2/.", "a;b", "eth2 "})
        EXPECT_EQ(CheckEthExist(name), -1) << '"' << name << '"';
    EXPECT_EQ(CheckEthExist(nullptr), -1);
    EXPECT_EQ(CheckEthExist(std::string(200, 'x').c_str()), -1);
}

TEST_F(EthModeTest, TheListedHardwareAddressTellsTheMode) {
    sim::NetInterface noAddress = wifi("wlan2", false);
    noAddress.mac = "00:00:00:00:00:00";  // ifconfig lists no HWaddr
    ASSERT_TRUE(sim::set_interface(dir(), wifi("wlan0", true)) &&
                sim::set_interface(dir(), wifi("wlan1", false)) &&
                sim::set_interface(dir(), noAddress));
    EXPECT_EQ(mode("wlan0"), WIFI_MODE_MONITOR);
    EXPECT_EQ(mode("wlan1"), WIFI_MODE_MANAGED);
    EXPECT_EQ(mode("wlan2"), WIFI_MODE_MANAGED);
    EXPECT_EQ(mode("eth2"), WIFI_MODE_MANAGED);
    EXPECT_TRUE(journal_has(" shell ifconfig -a eth2 \\| grep \"eth2\"$"));
}

TEST_F(EthModeTest, BeforeInitialisationTheFirstListedAddressDecides) {
    EXPECT_EQ(mode(""), WIFI_MODE_MANAGED);  // lo lists none, eth2 a MAC
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2") &&
                sim::set_interface(dir(), wifi("wlan0", true)) &&
                sim::set_interface(dir(), eth2()));
    EXPECT_EQ(mode(""), WIFI_MODE_MONITOR);
    EXPECT_TRUE(journal_has(" shell ifconfig -a  \\| grep \"\"$"));
}

TEST_F(EthModeTest, AnInvalidNameIsReportedAndNeverReachesTheShell) {
    std::string err;
    // Shell syntax is refused even when a directory of that name exists; a
    // name filling the whole field has no terminator.
    for (const std::string &name :
         std::vector<std::string>{"wlan9", "eth2;id", "eth2\" -e \"", "$(id)", "`id`", "eth2|id",
                                  "eth2 -v", std::string(32, 'w')}) {
        if (name != "wlan9") std::filesystem::create_directories(host("/sys/class/net/" + name));
        EXPECT_EQ(mode(name, &err), -1) << name;
        EXPECT_EQ(err, error_line("GetEthMode", "Eth name ivalid, " + name + "\n"));
    }
    EXPECT_FALSE(journal_has(" shell "));
}

}  // namespace
