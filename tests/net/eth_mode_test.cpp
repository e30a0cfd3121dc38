// CheckEthExist and GetEthMode: which names count as existing interfaces,
// and the mode read from the interface's ifconfig listing.
#include <filesystem>

#include "net_fixture.h"
#include "support/capture.h"

namespace {

namespace sim = zq::sim;
using zq::wifi::CheckEthExist;
using zq::wifi::GetEthMode;

class EthModeTest : public NetTest {
  protected:
    sim::NetInterface wifi(const char *name, bool monitor) {
        sim::NetInterface i;
        i.name = name;
        i.mac = "02:5a:51:00:00:07";
        i.monitor = monitor;
        return i;
    }
    int mode(std::string *err = nullptr) {
        int result = 0;
        Captured c = capture_output([&] { result = GetEthMode(); });
        if (err) *err = without_line_numbers(c.err);
        return result;
    }
};

TEST_F(EthModeTest, ExistenceTakesWholeInterfaceNamesOnly) {
    // A 12-character prefix that exists must not stand for a longer name.
    for (const char *name : {"wlan0abcdefg", "wlx0a0b0c0d0e0f", "p2p-wlan0_0.1"})
        ASSERT_TRUE(sim::set_interface(dir(), wifi(name, false)));
    std::filesystem::create_directories(host("/sys/class/net/a;b"));
    struct {
        const char *name;
        int result;
    } cases[] = {
        {"eth2", 0},
        {"lo", 0},
        {"", 0},  // "" tests the directory itself
        {"eth9", -1},
        {"wlan0abcdefg", 0},
        {"wlx0a0b0c0d0e0f", 0},
        {"p2p-wlan0_0.1", 0},
        {"wlan0abcdefgh", -1},
        {"wlx0a0b0c0d0e0f0", -1},
        {"..", -1},
        {"eth2/.", -1},
        {"a;b", -1},
        {"eth2 ", -1},
    };
    for (const auto &c : cases) EXPECT_EQ(CheckEthExist(c.name), c.result) << '"' << c.name << '"';
    EXPECT_EQ(CheckEthExist(nullptr), -1);
    EXPECT_EQ(CheckEthExist(std::string(200, 'x').c_str()), -1);
}

TEST_F(EthModeTest, TheHardwareAddressLengthTellsTheMode) {
    ASSERT_TRUE(sim::set_interface(dir(), wifi("wlan0", true)));
    ASSERT_TRUE(sim::set_interface(dir(), wifi("wlan1", false)));
    set_eth_name("wlan0");
    EXPECT_EQ(mode(), WIFI_MODE_MONITOR);
    set_eth_name("wlan1");
    EXPECT_EQ(mode(), WIFI_MODE_MANAGED);
    set_eth_name("eth2");
    EXPECT_EQ(mode(), WIFI_MODE_MANAGED);
    EXPECT_TRUE(journal_has(" shell ifconfig -a eth2 \\| grep \"eth2\"$"));
}

TEST_F(EthModeTest, AListingWithoutHardwareAddressIsManaged) {
    sim::NetInterface iface = wifi("wlan0", false);
    iface.mac = "00:00:00:00:00:00";
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    set_eth_name("wlan0");
    EXPECT_EQ(mode(), WIFI_MODE_MANAGED);
}

TEST_F(EthModeTest, BeforeInitialisationTheFirstListedAddressDecides) {
    EXPECT_EQ(mode(), WIFI_MODE_MANAGED);  // lo lists none, eth2 a MAC
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2"));
    ASSERT_TRUE(sim::set_interface(dir(), wifi("wlan0", true)));
    ASSERT_TRUE(sim::set_interface(dir(), eth2()));
    EXPECT_EQ(mode(), WIFI_MODE_MONITOR);
    EXPECT_TRUE(journal_has(" shell ifconfig -a  \\| grep \"\"$"));
}

TEST_F(EthModeTest, AnInvalidNameIsReportedAndNeverReachesTheShell) {
    std::string err;
    set_eth_name("wlan9");
    EXPECT_EQ(mode(&err), -1);
    EXPECT_EQ(err, error_line("GetEthMode", "Eth name ivalid, wlan9\n"));
    // Even when a directory of that name exists, a name with shell syntax is refused.
    for (const char *name : {"eth2;id", "eth2\" -e \"", "$(id)", "`id`", "eth2|id", "eth2 -v"}) {
        std::filesystem::create_directories(host("/sys/class/net/") + name);
        set_eth_name(name);
        EXPECT_EQ(mode(&err), -1) << name;
        EXPECT_EQ(err, error_line("GetEthMode", std::string("Eth name ivalid, ") + name + "\n"));
    }
    // A name that fills the whole field has no terminator.
    std::memset(zq::wifi::g_WifiState.g_EthName, 'w', sizeof zq::wifi::g_WifiState.g_EthName);
    EXPECT_EQ(mode(&err), -1);
    EXPECT_EQ(err, error_line("GetEthMode", "Eth name ivalid, " + std::string(32, 'w') + "\n"));
    EXPECT_FALSE(journal_has(" shell "));
}

}  // namespace
