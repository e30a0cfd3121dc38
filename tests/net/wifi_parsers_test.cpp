// What the Wi-Fi module writes for the board's daemons passes Debian's own
// hostapd and wpa_supplicant readers, whatever SSID, passphrase and channel
// within the rules the caller gives. Skipped unless ZQ_WIFI_PARSERS names
// the unpacked programs (scripts/fetch-wifi-parsers.sh); in CI it fails
// instead.
#include "support/wifi_parsers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "emul/board.h"
#include "support/vboard_fixture.h"
#include "board/wifi_radio.h"
#include "zq_wifi.h"

namespace {

using WifiMadeFilesTest = VBoardTest;

TEST_F(WifiMadeFilesTest, RealParsersAcceptThem) {
    ZQ_REQUIRE_WIFI_PARSERS();
    // Fast, but not so fast that a board tool's own run time outlasts the waits.
    ASSERT_TRUE(zq::sim::set_clock_speed(dir(), 20));
    ASSERT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 1), 0);
    struct Row {
        std::string ssid, passphrase;
        unsigned channel;
    } rows[] = {{"Home", "secret123", 0},
                {"Caf\xc3\xa9 #1 \"x\" \\ y=z", "p#ss \"word\" \\ =", 11},
                {" edge spaces ", "", 1},
                {"\xff\xfe wpa=0 ssid", "", 13},
                {std::string(32, 'W'), std::string(63, 'k'), 7}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.ssid);
        WifiApParam ap{};
        std::memcpy(ap.szSsid, row.ssid.data(), row.ssid.size());
        std::memcpy(ap.szPasswd, row.passphrase.data(), row.passphrase.size());
        ap.s32Channel = row.channel;
        ASSERT_EQ(ZQSDK_WifiCreateAp(&ap), 0);
        std::string made = zq::sim::read_board_file(dir(), "/var/wifi/hostapd.conf");
        std::string said = hostapd_complaints(made);
        EXPECT_FALSE(parsers_complain(said)) << made << said;

        zq::sim::RadioNetwork network;
        network.ssid = row.ssid;
        network.passphrase = row.passphrase;
        std::string error;
        ASSERT_TRUE(zq::sim::add_network(dir(), network, &error)) << error;
        EXPECT_EQ(ZQSDK_WifiConnectSTA(row.ssid.c_str(), row.passphrase.c_str()), 0);
        made = zq::sim::read_board_file(dir(), "/var/wifi/wpa.conf");
        said = supplicant_complaints(made);
        EXPECT_FALSE(parsers_complain(said)) << made << said;
    }
    ZQSDK_WifiExit();
}

}  // namespace
