// The Wi-Fi module's files and tool directory with Debian's real tools
// (scripts/fetch-wifi-parsers.sh, or ZQ_WIFI_PARSERS), in namespaces that
// keep the host's network untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "board/wifi_radio.h"
#include "emul/board.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_wifi.h"

namespace {

namespace sim = zq::sim;

// Where the tools are; empty when there are none.
std::string tools_root() {
    const char *root = std::getenv("ZQ_WIFI_PARSERS");
    if (root && *root) return root;
    const std::string fetched = ZQ_WIFI_PARSERS_DIR;
    return ::access((fetched + "/usr/sbin/hostapd").c_str(), X_OK) == 0 ? fetched : "";
}

std::string library_path(const std::string &root) {
    return "LD_LIBRARY_PATH=" + root + "/lib/x86_64-linux-gnu:" + root +
           "/usr/lib/x86_64-linux-gnu";
}

// What keeps the real tools from running here (the unpacked programs, and
// with namespaces the right to make network namespaces), or null.
const char *wifi_parsers_missing(bool namespaces) {
    if (tools_root().empty())
        return "Debian's Wi-Fi tools are not unpacked (scripts/fetch-wifi-parsers.sh)";
    if (namespaces && std::system("unshare -n -m -p -f --mount-proc true >/dev/null 2>&1") != 0)
        return "no network, mount and process namespaces can be made here (unshare, as root)";
    return nullptr;
}

// In CI (CI=true), where Debian's packages are reachable, what is missing
// fails the test instead of skipping it.
#define ZQ_REQUIRE_REAL_TOOLS(namespaces)                                                     \
    do {                                                                                      \
        const char *missing = wifi_parsers_missing(namespaces);                               \
        if (!missing) break;                                                                  \
        if (std::getenv("CI") && std::string(std::getenv("CI")) == "true") FAIL() << missing; \
        GTEST_SKIP() << missing;                                                              \
    } while (0)

// What hostapd or wpa_supplicant (driver "none") says of the file made on the
// board when it complains, else "". The copy checked has no control socket
// lines and a made-up interface: nothing is made on the host.
std::string parser_complaints(bool accessPoint, const std::string &board) {
    const std::string root = tools_root(), path = board + "/check.conf";
    std::istringstream in(
        sim::read_board_file(board, accessPoint ? "/var/wifi/hostapd.conf" : "/var/wifi/wpa.conf"));
    std::ofstream file(path);
    for (std::string line; std::getline(in, line);) {
        if (line.find("ctrl_interface") != std::string::npos) continue;
        file << (line.rfind("interface=", 0) == 0 ? "interface=zqcheck0" : line) << '\n';
    }
    file.close();
    const std::string program =
        accessPoint ? "/usr/sbin/hostapd " : "/sbin/wpa_supplicant -Dnone -izqcheck0 -c ";
    const std::string out =
        run_command(library_path(root) + " timeout 10 " + root + program + path + " 2>&1").out;
    const bool complains = out.find("Line ") != std::string::npos ||
                           out.find("errors found") != std::string::npos ||
                           out.find("Failed to read or parse configuration") != std::string::npos;
    return complains ? out : "";
}

// Runs script with sh in namespaces of its own (every process it starts ends
// with it), the real tools first in PATH, ZQ_VBOARD set to board and every
// "@B@" in it replaced by board: its status and everything it printed.
CliRun run_with_real_tools(const std::string &board, std::string script) {
    for (size_t at; (at = script.find("@B@")) != std::string::npos;) script.replace(at, 3, board);
    const std::string root = tools_root(), bin = board + "/real-tools";
    ::mkdir(bin.c_str(), 0755);
    for (const char *applet : {"udhcpc", "udhcpd", "ifconfig", "route"})
        ::symlink((root + "/bin/busybox").c_str(), (bin + "/" + applet).c_str());
    for (const char *tool : {"/sbin/wpa_supplicant", "/sbin/wpa_cli", "/usr/sbin/hostapd"})
        ::symlink((root + tool).c_str(), (bin + std::strrchr(tool, '/')).c_str());
    const std::string file = board + "/real-check.sh";
    std::ofstream(file) << script;
    return run_command("env PATH=" + bin + ":/usr/sbin:/usr/bin:/sbin:/bin " + library_path(root) +
                       " ZQ_VBOARD=" + board +
                       " timeout 60 unshare -n -m -p -f --mount-proc --kill-child sh " + file +
                       " 2>&1");
}

using WifiRealToolsTest = VBoardTest;

// Whatever SSID, passphrase and channel within the rules the caller gives.
TEST_F(WifiRealToolsTest, RealParsersAcceptTheMadeFiles) {
    ZQ_REQUIRE_REAL_TOOLS(false);
    // Fast, but not so fast that a board tool's own run time outlasts the waits.
    ASSERT_TRUE(sim::set_clock_speed(dir(), 20));
    ASSERT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 1), 0);
    struct Row {
        std::string ssid, passphrase;
        unsigned channel;
    } rows[] = {{"Home", "secret123", 0},
                {"Caf\xc3\xa9 #1 \"x\" \\ y=z", "p#ss \"word\" \\ =", 11},
                {"\xff\xfe wpa=0 ssid", "", 13},
                {std::string(32, 'W'), std::string(63, 'k'), 7}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.ssid);
        WifiApParam ap{};
        std::memcpy(ap.szSsid, row.ssid.data(), row.ssid.size());
        std::memcpy(ap.szPasswd, row.passphrase.data(), row.passphrase.size());
        ap.s32Channel = row.channel;
        ASSERT_EQ(ZQSDK_WifiCreateAp(&ap), 0);
        EXPECT_EQ(parser_complaints(true, dir()), "");
        std::string error;
        ASSERT_TRUE(
            sim::add_network(dir(), {row.ssid, "", -50, 6, row.passphrase, "ok", ""}, &error))
            << error;
        EXPECT_EQ(ZQSDK_WifiConnectSTA(row.ssid.c_str(), row.passphrase.c_str()), 0);
        EXPECT_EQ(parser_complaints(false, dir()), "");
    }
    ZQSDK_WifiExit();
}

TEST_F(WifiRealToolsTest, WpaCliKeepsTheStationStateOfTheRealSupplicant) {
    ZQ_REQUIRE_REAL_TOOLS(true);
    write_board_file(
        dir(), "/var/wifi/wired.conf",
        "ctrl_interface=" + dir() + "/run\nap_scan=0\nnetwork={\n\tkey_mgmt=NONE\n}\n");
    write_board_file(dir(), "/var/tmp/wpa_state", "0\n");
    CliRun run = run_with_real_tools(dir(), R"sh(
# Waits (up to $2 tenths of a second, 10 s without it) for the command $1 to succeed.
eventually() {
    i=0
    until eval "$1"; do
        [ $i -lt "${2:-100}" ] || return 1
        sleep 0.1
        i=$((i + 1))
    done
}
state_is() {
    want=$1
    eventually '[ "$(cat @B@/var/tmp/wpa_state)" = "$want" ]' && echo "state $want" ||
        echo "state stayed $(cat @B@/var/tmp/wpa_state), not $want"
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
# wpa_cli ends once the supplicant no longer answers its ping (one a second).
watcher="wpa_cli -B -G 1 -i zqsta0 -p @B@/run"
pgrep -f "$watcher" >/dev/null && echo "watcher running"
kill -9 "$(cat @B@/wpa.pid)"
eventually '! pgrep -f "$watcher" >/dev/null' 30 && echo "watcher ended"
)sh");
    EXPECT_EQ(run.out, "started 0\nstate 9\nstate 0\nstate 9\nwatcher running\nwatcher ended\n")
        << sim::read_board_file(dir(), "/var/tmp/wpa_log");
}

TEST_F(WifiRealToolsTest, BusyboxServesAndLeasesWithTheMadeFiles) {
    ZQ_REQUIRE_REAL_TOOLS(true);
    ASSERT_TRUE(sim::set_clock_speed(dir(), 20));
    ASSERT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 1), 0);
    WifiApParam ap{};
    std::strcpy(ap.szSsid, "Camera");
    std::strcpy(ap.szIp, "192.168.5.1");
    ASSERT_EQ(ZQSDK_WifiCreateAp(&ap), 0);
    capture_output([] { ZQSDK_WifiExit(); });
    // The server's files move into the board; the rest is as made.
    std::string made = sim::read_board_file(dir(), "/var/wifi/udhcpd.conf");
    made.replace(made.find("/var/wifi/udhcpd.leases"), 23, dir() + "/leases");
    write_board_file(dir(), "/real-udhcpd.conf", made + "pidfile\t" + dir() + "/udhcpd.pid\n");
    write_board_file(dir(), "/var/ipisconfig", "\n");
    // The camera's end of the link is wlan0, as the made file says; the
    // client's end is in a namespace of its own.
    CliRun run = run_with_real_tools(dir(), R"sh(
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
)sh");
    EXPECT_EQ(run.status, 0) << run.out;
    std::string served = sim::read_board_file(dir(), "/udhcpd.out");
    EXPECT_EQ(served.find("bad line"), std::string::npos) << served;
    EXPECT_EQ(run.out.substr(0, run.out.find("inet ")),
              "client 0\nmarker 1\nnameserver 192.168.5.1\ndefault via 192.168.5.1 dev zqsta0\n")
        << served;
    // A lease from the made pool: hosts 20 to 254.
    int host = std::atoi(run.out.substr(run.out.rfind('.') + 1).c_str());
    EXPECT_TRUE(host >= 20 && host <= 254) << run.out;
}

}  // namespace
