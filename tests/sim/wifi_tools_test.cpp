// The board's Wi-Fi: the radio behind wlan0, the fake tools run through the
// seam's shell as the Wi-Fi module runs them, and the host-safety walk.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "board/wifi_radio.h"
#include "board/wifi_records.h"
#include "emul/board.h"
#include "emul/process_table.h"
#include "port/port.h"
#include "support/host_safety.h"
#include "support/text_parts.h"
#include "support/vboard_fixture.h"

namespace {

namespace sim = zq::sim;
namespace fs = std::filesystem;

// A command through the seam's shell, as the Wi-Fi module runs it; both streams.
CliRun run(const std::string &command) {
    FILE *pipe = zq::port::popen((command + " 2>&1").c_str(), "r");
    CliRun ran{-1, ""};
    if (!pipe) return ran;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) ran.out.append(buf, n);
    int status = zq::port::pclose(pipe);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

bool process_gone(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    size_t paren = text.rfind(')');
    return paren == std::string::npos || text[paren + 2] == 'Z';
}

void add_network(const std::string &dir, const std::string &ssid, const std::string &passphrase,
                 const std::string &lease = "") {
    ASSERT_TRUE(sim::add_network(dir, {ssid, "", -45.0, 6, passphrase, "ok", lease}, nullptr));
}

class WifiToolsTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        ASSERT_TRUE(sim::set_clock_speed(dir(), 200));
        for (const char *sub : {"/var/wifi", "/var/tmp"}) fs::create_directories(host(sub));
    }
    // No board process outlives its test, failed or not.
    void TearDown() override {
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(host("/proc"), ec)) {
            int pid = std::atoi(entry.path().filename().c_str());
            if (pid > 0 && pid != getpid() && sim::runs_on_board(dir(), pid, false))
                kill(pid, SIGKILL);
        }
        VBoardTest::TearDown();
    }
    std::string text(const std::string &boardPath) const {
        return sim::read_board_file(dir(), boardPath);
    }
    std::string cmdline(int pid) const { return text("/proc/" + std::to_string(pid) + "/cmdline"); }
    // A working copy of a template with some lines replaced (key=value).
    void working_copy(const std::string &templ, const std::string &to,
                      const std::vector<std::pair<std::string, std::string>> &lines) {
        std::string t = text("/usr/wifi/" + templ);
        for (const auto &[from, replacement] : lines) {
            size_t at = t.find(from);
            ASSERT_NE(at, std::string::npos) << from;
            t.replace(at, t.find('\n', at) - at, replacement);
        }
        std::ofstream(host(to)) << t;
    }
    // The tool directory's station, joined to "Home" (passphrase secret123),
    // and its DHCP client (log in "/var/tmp/udhcpc_log").
    void start_station() {
        working_copy("wpa_wpa2.conf", "/var/wifi/wpa.conf",
                     {{"\tssid=", "\tssid=\"Home\""}, {"\tpsk=", "\tpsk=\"secret123\""}});
        CliRun r = run(host("/usr/wifi/wpa_supplicant") + " -iwlan0 -Dnl80211 -f " +
                       host("/var/tmp/wpa_log") + " -c " + host("/var/wifi/wpa.conf") + " -B");
        ASSERT_EQ(r.status, 0) << r.out;
        ASSERT_TRUE(eventually([&] { return text("/var/tmp/wpa_state") == "9\n"; }));
    }
    void start_client() {
        const std::string command = "udhcpc -i wlan0 -s " + host("/usr/wifi/udhcpc.script") + " >" +
                                    host("/var/tmp/udhcpc_log") + "&";
        ASSERT_EQ(zq::port::system(command.c_str()), 0);
    }
    sim::ToolRecord record(const std::string &tool) {
        sim::ToolRecord r;
        eventually([&] { return sim::running_tool(dir(), tool, "", &r); });
        return r;
    }
};

TEST_F(WifiToolsTest, OnlyWirelessInterfacesHaveARadio) {
    EXPECT_EQ(text("/sys/class/net/wlan0/phy80211/index"), "0\n");
    EXPECT_FALSE(fs::exists(host("/sys/class/net/eth2/phy80211")));
}

TEST_F(WifiToolsTest, ScanPrintsEachNetworkAsIwDoes) {
    const struct Row {
        std::string ssid, printed;
        bool secured;
    } rows[] = {{"NetAbc", "NetAbc", true},        {" lead", "\\x20lead", false},
                {"tail ", "tail\\x20", false},     {"back\\slash", "back\\x5cslash", true},
                {"\x01\xff", "\\x01\\xff", false}, {"", "", false}};
    for (const Row &row : rows) add_network(dir(), row.ssid, row.secured ? "secret123" : "");
    const std::string scan = host("/usr/wifi/iw") + " dev wlan0 scan";
    EXPECT_EQ(run(scan).out, "command failed: Network is down (-100)\n");
    ASSERT_EQ(run("ifconfig wlan0 up").status, 0);
    CliRun out = run(scan);
    ASSERT_EQ(out.status, 0) << out.out;
    EXPECT_EQ(count_of(out.out, "(on wlan0)\n"), std::size(rows));
    for (const Row &row : rows) {
        const size_t at = out.out.find("BSS " + sim::bssid_for(row.ssid) + "(on wlan0)\n");
        ASSERT_NE(at, std::string::npos) << row.printed;
        const std::string b = out.out.substr(at, out.out.find("\nBSS ", at) - at) + "\n";
        EXPECT_EQ(missing(b, {"\n\tSSID: " + row.printed + "\n", "\n\tfreq: 2437\n",
                              "\n\tsignal: -45.00 dBm\n", "\n\t\t * primary channel: 6\n"}),
                  "")
            << b;
        EXPECT_EQ(b.find("\n\tRSN:\t * Version: 1\n") != std::string::npos, row.secured) << b;
    }
}

TEST_F(WifiToolsTest, UdhcpcLeasesTheJoinedNetworksAddressAndRunsItsScript) {
    add_network(dir(), "Home", "secret123", "10.20.30.40/16");
    start_station();
    start_client();
    ASSERT_TRUE(eventually([&] { return text("/var/ipisconfig") == "1\n"; }));  // the script ran
    ASSERT_TRUE(eventually([&] {
        return text("/var/tmp/udhcpc_log").find("lease of 10.20.30.40 obtained from 10.20.0.1") !=
               std::string::npos;
    }));
    std::string listing = run("ifconfig wlan0").out;
    EXPECT_NE(listing.find("inet addr:10.20.30.40  Bcast:10.20.255.255  Mask:255.255.0.0"),
              std::string::npos)
        << listing;
    EXPECT_EQ(text("/etc/resolv.conf"), "nameserver 10.20.0.1\n");
}

TEST_F(WifiToolsTest, WpaCliRunsTheActionAtEachConnectionAndEndsWithTheSupplicant) {
    add_network(dir(), "Home", "secret123");
    // The supplicant writes no state: the wpa_cli action does, from its events.
    std::ofstream(host("/var/tmp/wpa_state")) << "5\n";
    start_station();
    EXPECT_EQ(run("wpa_cli -i wlan1 ping").status, 255);
    int supplicant = record("wpa_supplicant").pid;
    ASSERT_TRUE(sim::remove_network(dir(), "Home"));
    ASSERT_TRUE(eventually([&] { return text("/var/tmp/wpa_state") == "0\n"; }));
    EXPECT_EQ(zq::port::kill(supplicant, SIGKILL), 0);
    EXPECT_TRUE(eventually([&] {
        return text("/journal").find("wlan0: supplicant gone, stopped watching") !=
               std::string::npos;
    }));
}

TEST_F(WifiToolsTest, AccessPointToolsServeWhatTheirFilesSay) {
    working_copy("hostapd.conf", "/var/wifi/hostapd.conf",
                 {{"ssid=", "ssid=Cam #1 \"x\""},
                  {"channel=", "channel=11"},
                  {"wpa_passphrase=", "wpa_passphrase=ap-secret"}});
    EXPECT_EQ(run("ifconfig wlan0 192.168.5.1 netmask 255.255.255.0").status, 0);
    EXPECT_EQ(run("route add -net 192.168.5.0 netmask 255.255.255.0 dev wlan0").out,
              "route: SIOCADDRT: File exists\n");  // the address brought its prefix route
    CliRun hostapd = run(host("/usr/wifi/hostapd") + " " + host("/var/wifi/hostapd.conf") + " -B");
    EXPECT_EQ(hostapd.status, 0) << hostapd.out;
    EXPECT_EQ(record("hostapd").fields["ssid"], "Cam #1 \"x\"");
    EXPECT_EQ(cmdline(record("hostapd").pid),
              std::string("/usr/wifi/hostapd\0/var/wifi/hostapd.conf\0-B\0", 44));
}

TEST_F(WifiToolsTest, IfconfigAndRouteChangeTheBoardsInterfaces) {
    const struct Row {
        const char *command, *output;
        const char *routes;  // wlan0's rows of /proc/net/route: destination/gateway/flags
    } rows[] = {
        {"ifconfig wlan0 10.1.2.3", "", "0000000A/00000000/0001"},  // class A
        {"ifconfig wlan0 192.168.7.9 netmask 255.255.255.0", "", "0007A8C0/00000000/0001"},
        {"route add default gw 192.168.7.1 dev wlan0", "",
         "00000000/0107A8C0/0003 0007A8C0/00000000/0001"},
        {"route add default gw 10.9.9.9 dev wlan0", "route: SIOCADDRT: Network is unreachable\n",
         "00000000/0107A8C0/0003 0007A8C0/00000000/0001"},
        {"route del default gw 0.0.0.0 dev wlan0", "", "0007A8C0/00000000/0001"},
        {"route del default gw 0.0.0.0 dev wlan0", "route: SIOCDELRT: No such process\n",
         "0007A8C0/00000000/0001"},
        {"ifconfig wlan0 down", "", ""},
        {"ifconfig wlan0 up", "", "0007A8C0/00000000/0001"},
        {"ifconfig wlan0 0.0.0.0", "", ""},
        {"ifconfig wlan9 up", "ifconfig: SIOCGIFFLAGS: No such device\n", ""},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(run(row.command).out, row.output) << row.command;
        std::string routes;
        std::istringstream table(text("/proc/net/route"));
        for (std::string line; std::getline(table, line);) {
            char iface[16], dest[9], gw[9], flags[5];
            if (std::sscanf(line.c_str(), "%15s %8s %8s %4s", iface, dest, gw, flags) == 4 &&
                std::string(iface) == "wlan0")
                routes += (routes.empty() ? "" : " ") + std::string(dest) + "/" + gw + "/" + flags;
        }
        EXPECT_EQ(routes, row.routes) << row.command;
    }
    // Listings while another tool edits the board: the listing program is
    // replaced whole and executable, so the host's ifconfig never answers.
    std::thread editor([] {
        for (int mtu = 1400; mtu < 1440; ++mtu) run("ifconfig wlan0 mtu " + std::to_string(mtu));
    });
    for (int k = 0; k < 80; ++k) EXPECT_EQ(run("ifconfig -a wlan0").out.rfind("wlan0 ", 0), 0u);
    editor.join();
}

TEST_F(WifiToolsTest, ToolsRefuseHostPathsAndStubsRefuseToRun) {
    const std::string outside = host("/../../../etc/hostapd.conf");
    const struct Row {
        std::string command, output;
        int status;
    } rows[] = {
        {"ip addr", "ip: not a tool of the virtual board\n", 127},
        {host("/usr/wifi/wpa_supplicant") + " -iwlan0 -c /etc/passwd -B",
         "wpa_supplicant: /etc/passwd: outside the virtual board\n", 255},
        {host("/usr/wifi/hostapd") + " " + outside,
         "hostapd: " + outside + ": outside the virtual board\n", 1},
        {"udhcpc -i wlan0 -s /usr/share/udhcpc/default.script",
         "udhcpc: /usr/share/udhcpc/default.script: outside the virtual board\n", 1},
    };
    for (const Row &row : rows) {
        CliRun r = run(row.command);
        EXPECT_EQ(r.out, row.output) << row.command;
        EXPECT_EQ(r.status, row.status) << row.command;
    }
    // The link that the Wi-Fi module makes on the board cannot lead a tool out either.
    symlink("/etc", host("/var/wifi/out").c_str());
    EXPECT_EQ(run("dnsd -c " + host("/var/wifi/out/hosts")).status, 1);
    std::vector<std::string> refusals = host_paths_outside_board(text("/journal"), dir());
    EXPECT_EQ(refusals.size(), 7u);  // the four refusals and the three commands that named them
}

TEST_F(WifiToolsTest, DaemonsAreBoardProcessesThatEndWithTheirBoard) {
    add_network(dir(), "Home", "secret123");
    start_station();
    start_client();
    int supplicant = record("wpa_supplicant").pid, client = record("udhcpc").pid;
    // The killers find them by their board names (the wrapper runs bin/'s supplicant).
    EXPECT_EQ(cmdline(supplicant).substr(0, 23), std::string("wpa_supplicant\0-iwlan0\0", 23));
    EXPECT_EQ(zq::port::kill(client, SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return process_gone(client); }));
    fs::remove_all(dir());
    EXPECT_TRUE(eventually([&] { return process_gone(supplicant); }));
}

TEST(HostSafetyWalk, FindsCommandsThatNameHostPathsOutsideTheBoard) {
    const std::string b = "/tmp/zq.1/board";
    const struct Row {
        std::string command;
        bool outside;
    } rows[] = {
        {"rm /dev/random", true},
        {"echo '0' > /var/tmp/wpa_state", true},
        {"echo '' >'" + b + "/var/ipisconfig'", false},
        {b + "/usr/wifi/iw dev wlan0 scan | egrep 'BSS|signal' | sed '/OBSS/d'", false},
        {"cat " + b + "/proc/net/route | awk '{print $1,$3}' >/dev/null 2>&1", false},
        {"mkdir -p " + b + "/../etc", true},
        {b + "/usr/wifi/wpa_supplicant -iwlan0 -f " + b + "/var/tmp/wpa_log -c/etc/w.conf -B",
         true},
        {"cp x conf=/etc/y", true},
    };
    std::string journal =
        "30.000001 7 dnsd refused /etc/x: outside the board\n"
        "30.000002 7 kill pid 4 signal 9\n";
    std::vector<std::string> expected = {"30.000001 7 dnsd refused /etc/x: outside the board"};
    for (const Row &row : rows) {
        std::string line = "30.5 9 shell " + row.command;
        journal += line + "\n";
        if (row.outside) expected.push_back(line);
    }
    EXPECT_EQ(host_paths_outside_board(journal, b + "/"), expected);
}

}  // namespace
