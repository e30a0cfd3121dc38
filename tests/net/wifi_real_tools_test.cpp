// The Wi-Fi module's files and tool directory with Debian's real tools
// instead of the virtual board's: what the module writes for the daemons
// passes hostapd's and wpa_supplicant's own readers, wpa_cli keeps the
// station state of the real wpa_supplicant (its wired driver on a veth
// pair), and busybox's udhcpd serves the configuration the access point
// made to busybox's udhcpc running the directory's script. The daemons run
// in network and process namespaces of their own, so nothing reaches the
// host's network and none outlives its test. Skipped where the tools are
// not unpacked (scripts/fetch-wifi-parsers.sh); in CI they fail instead.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "board/wifi_radio.h"
#include "emul/board.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "support/wifi_parsers.h"
#include "zq_wifi.h"

namespace {

using WifiRealToolsTest = VBoardTest;

// Whatever SSID, passphrase and channel within the rules the caller gives.
TEST_F(WifiRealToolsTest, RealParsersAcceptTheMadeFiles) {
    ZQ_REQUIRE_REAL_TOOLS(false);
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
        EXPECT_EQ(parser_complaints(true, zq::sim::read_board_file(dir(), "/var/wifi/hostapd.conf")),
                  "");
        zq::sim::RadioNetwork network;
        network.ssid = row.ssid;
        network.passphrase = row.passphrase;
        std::string error;
        ASSERT_TRUE(zq::sim::add_network(dir(), network, &error)) << error;
        EXPECT_EQ(ZQSDK_WifiConnectSTA(row.ssid.c_str(), row.passphrase.c_str()), 0);
        EXPECT_EQ(parser_complaints(false, zq::sim::read_board_file(dir(), "/var/wifi/wpa.conf")),
                  "");
    }
    ZQSDK_WifiExit();
}

// script with every "@B@" replaced by the board's directory.
std::string on_board(std::string script, const std::string &board) {
    for (size_t at; (at = script.find("@B@")) != std::string::npos;) script.replace(at, 3, board);
    return script;
}

TEST_F(WifiRealToolsTest, WpaCliKeepsTheStationStateOfTheRealSupplicant) {
    ZQ_REQUIRE_REAL_TOOLS(true);
    write_board_file(
        dir(), "/var/wifi/wired.conf",
        "ctrl_interface=" + dir() + "/run\nap_scan=0\nnetwork={\n\tkey_mgmt=NONE\n}\n");
    write_board_file(dir(), "/var/tmp/wpa_state", "0\n");
    CliRun run = run_with_real_tools(dir(), on_board(R"sh(
# Waits (up to 10 s) for the station state to read $1.
state_is() {
    i=0
    while [ $i -lt 100 ]; do
        [ "$(cat @B@/var/tmp/wpa_state)" = "$1" ] && echo "state $1" && return 0
        sleep 0.1
        i=$((i + 1))
    done
    echo "state stayed $(cat @B@/var/tmp/wpa_state), not $1"
}
ip link add zqsta0 type veth peer name zqpeer0 && ip link set zqpeer0 up && ip link set zqsta0 up
@B@/usr/wifi/wpa_supplicant -izqsta0 -Dwired -f @B@/var/tmp/wpa_log \
    -c @B@/var/wifi/wired.conf -P @B@/wpa.pid -B
echo "started $?"
state_is 9
wpa_cli -p @B@/run -i zqsta0 disconnect >/dev/null
state_is 0
wpa_cli -p @B@/run -i zqsta0 reconnect >/dev/null
state_is 9
# wpa_cli ends once the supplicant no longer answers its ping (every 5 s).
kill -9 "$(cat @B@/wpa.pid)"
i=0
while pgrep -f "wpa_cli -B -i zqsta0 -p @B@/run" >/dev/null && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
pgrep -f "wpa_cli -B -i zqsta0 -p @B@/run" >/dev/null || echo "watcher ended"
)sh",
                                                      dir()));
    EXPECT_EQ(run.out, "started 0\nstate 9\nstate 0\nstate 9\nwatcher ended\n")
        << zq::sim::read_board_file(dir(), "/var/tmp/wpa_log");
}

TEST_F(WifiRealToolsTest, BusyboxServesAndLeasesWithTheMadeFiles) {
    ZQ_REQUIRE_REAL_TOOLS(true);
    ASSERT_TRUE(zq::sim::set_clock_speed(dir(), 20));
    ASSERT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 1), 0);
    WifiApParam ap{};
    std::strcpy(ap.szSsid, "Camera");
    std::strcpy(ap.szIp, "192.168.5.1");
    ASSERT_EQ(ZQSDK_WifiCreateAp(&ap), 0);
    capture_output([] { ZQSDK_WifiExit(); });
    // The server's files move into the board; the rest is as made.
    std::string made = zq::sim::read_board_file(dir(), "/var/wifi/udhcpd.conf");
    made.replace(made.find("/var/wifi/udhcpd.leases"), 23, dir() + "/leases");
    write_board_file(dir(), "/real-udhcpd.conf", made + "pidfile\t" + dir() + "/udhcpd.pid\n");
    write_board_file(dir(), "/var/ipisconfig", "\n");
    // The camera's end of the link is wlan0, as the made file says; the
    // client's end is in a namespace of its own.
    CliRun run = run_with_real_tools(dir(), on_board(R"sh(
ip link add wlan0 type veth peer name zqsta0
unshare -n sleep 60 &
client=$!
sleep 0.2
ip link set zqsta0 netns $client
ip link set lo up && ifconfig wlan0 192.168.5.1 netmask 255.255.255.0 up
udhcpd -f @B@/real-udhcpd.conf >@B@/udhcpd.out 2>&1 &
sleep 0.3
nsenter -t $client -n sh -c 'ip link set lo up && ip link set zqsta0 up &&
    udhcpc -i zqsta0 -s @B@/usr/wifi/udhcpc.script -q -n -t 5 -T 1 >/dev/null 2>&1'
echo "client $?"
echo "marker $(cat @B@/var/ipisconfig)"
cat @B@/etc/resolv.conf
nsenter -t $client -n ip -4 route show default | cut -d' ' -f1-5
nsenter -t $client -n ip -4 -o addr show zqsta0 | grep -o 'inet 192\.168\.5\.[0-9]*/24'
)sh",
                                                      dir()));
    EXPECT_EQ(run.status, 0) << run.out;
    std::string served = zq::sim::read_board_file(dir(), "/udhcpd.out");
    EXPECT_EQ(served.find("bad line"), std::string::npos) << served;
    EXPECT_EQ(run.out.substr(0, run.out.find("inet ")),
              "client 0\nmarker 1\nnameserver 192.168.5.1\ndefault via 192.168.5.1 dev zqsta0\n")
        << served;
    // A lease from the made pool: hosts 20 to 254.
    int host = std::atoi(run.out.substr(run.out.rfind('.') + 1).c_str());
    EXPECT_TRUE(host >= 20 && host <= 254) << run.out;
}

}  // namespace
