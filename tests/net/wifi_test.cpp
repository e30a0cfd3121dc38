// The Wi-Fi operations on a virtual board with its own tools and radio:
// killers, life cycle, access point, station flow, scans and the refusal of
// hostile input. No test's commands may name a host path outside the board.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "board/wifi_radio.h"
#include "emul/board.h"
#include "emul/process_table.h"
#include "net/wifi_kill.h"
#include "net/wifi_state.h"
#include "support/capture.h"
#include "support/host_safety.h"
#include "support/vboard_fixture.h"
#include "zq_net.h"
#include "zq_wifi.h"

namespace {

namespace fs = std::filesystem;
namespace sim = zq::sim;
using zq::wifi::g_WifiState;

class WifiTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        // The longest station wait (about 93 board seconds) stays short, while
        // the tools, through an emulator or on a busy host, still act in time.
        ASSERT_TRUE(sim::set_clock_speed(dir(), 20));
        tools_ = host("/usr/wifi");
    }
    void TearDown() override {
        capture_output([] { ZQSDK_WifiExit(); });
        for (const std::string &line : host_paths_outside_board(board("/journal"), dir()))
            ADD_FAILURE() << "outside the board: " << line;
        VBoardTest::TearDown();
    }
    void init(int type = 1) {
        capture_output([&] { EXPECT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", type), 0); });
    }
    // The shell commands run since the last call, without mode queries.
    std::vector<std::string> commands() {
        std::vector<std::string> all = journal_events("shell"), out;
        for (size_t i = seen_; i < all.size(); ++i)
            if (all[i].rfind("ifconfig -a ", 0) != 0) out.push_back(all[i]);
        seen_ = all.size();
        return out;
    }
    std::string board(const std::string &boardPath) {
        return sim::read_board_file(dir(), boardPath);
    }
    // The command lines of the board's processes that hold any of whats,
    // after giving killed ones a moment to end.
    std::vector<std::string> board_processes(const std::vector<std::string> &whats) {
        std::vector<std::string> found;
        for (int attempt = 0; attempt < 100; ++attempt, ::usleep(20000)) {
            found.clear();
            for (const fs::directory_entry &entry : fs::directory_iterator(host("/proc"))) {
                std::string pid = entry.path().filename();
                if (pid.find_first_not_of("0123456789") != std::string::npos ||
                    !sim::runs_on_board(sim::board_root(dir()), std::stoi(pid), false))
                    continue;
                std::string line = board("/proc/" + pid + "/cmdline");
                std::replace(line.begin(), line.end(), '\0', ' ');
                for (const std::string &what : whats)
                    if (line.find(what) != std::string::npos) found.push_back(line);
            }
            if (found.empty()) break;
        }
        return found;
    }
    const std::vector<std::string> kStationTools = {"wpa_supplicant", "udhcpc -i wlan0"};

    std::string tools_;
    size_t seen_ = 0;
};

// The first of pids that a walk of the board's "/proc" (its host
// directory procDir) meets.
pid_t met_first(const std::string &procDir, const std::vector<pid_t> &pids) {
    for (const fs::directory_entry &entry : fs::directory_iterator(procDir)) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            std::find(pids.begin(), pids.end(), std::stoi(name)) != pids.end())
            return std::stoi(name);
    }
    return -1;
}

// Whole program names and whole arguments only; a listed process that ended
// before its kill is no failure. A process the board may not kill (another
// user's) is reported and the walk goes on: later matches die all the same.
TEST_F(WifiTest, KillersTakeWholeNamesAndArgumentsAndGoOnPastRefusedKills) {
    std::vector<pid_t> taken = {start_idle({"wpa_supplicant", "-iwlan0"}),
                                start_idle({"/usr/wifi/wpa_supplicant", "-B"}),
                                start_idle({"udhcpc", "-i", "wlan0"}),
                                start_idle({"/usr/wifi/iw", "dev", "wlan0", "scan"})};
    std::vector<pid_t> spared = {
        start_idle({"udhcpc", "-i", "wlan01"}), start_idle({"udhcpc", "-iwlan0"}),
        start_idle({"iwpriv", "wlan0"}),        start_idle({"/sbin/iwconfig"}),
        start_idle({"/tmp/iw/tool", "wlan0"}),  start_idle({"my_wpa_supplicant"})};
    list_ended_process({"hostapd"});
    zq::wifi::ProcKillList list = zq::wifi::MakeKillList(
        {{"wpa_supplicant", nullptr}, {"udhcpc", "wlan0"}, {"hostapd", nullptr}});
    EXPECT_EQ(zq::wifi::KillProcessList(&list), 0);
    EXPECT_EQ(zq::wifi::KillIwProcess(), 0);
    for (pid_t pid : taken) EXPECT_EQ(ended_by(pid), SIGKILL) << pid;
    for (pid_t pid : spared) EXPECT_EQ(::kill(pid, 0), 0) << pid;

    std::vector<pid_t> hostapds = {start_idle({"hostapd"}), start_idle({"hostapd"}),
                                   start_idle({"hostapd"})};
    pid_t foreign = met_first(host("/proc"), hostapds);
    ASSERT_TRUE(sim::set_board_process_user(dir(), foreign, "www-data"));
    Captured out = capture_output([&] { EXPECT_EQ(zq::wifi::KillProcessList(&list), -1); });
    EXPECT_EQ(out.out, "kill pid " + std::to_string(foreign) + " name hostapd failed\n");
    EXPECT_EQ(::kill(foreign, 0), 0);
    for (pid_t pid : hostapds) EXPECT_TRUE(pid == foreign || ended_by(pid) == SIGKILL) << pid;
}

template <size_t N>
void put(char (&field)[N], const char *text) {
    std::memcpy(field, text, strnlen(text, N - 1));
}

WifiApParam ap(const char *ssid, const char *pass, unsigned channel, const char *ip) {
    WifiApParam p{};
    put(p.szSsid, ssid);
    put(p.szPasswd, pass);
    p.s32Channel = channel;
    put(p.szIp, ip);
    return p;
}

// What init or an operation refuses (a bad name, path or value, no
// interface yet) is refused before anything is killed, written or started.
TEST_F(WifiTest, BadInputAndMissingInterfaceAreRefusedBeforeAnythingIsKilledOrStarted) {
    pid_t client = start_idle({"udhcpc", "-i", "eth2"});
    const std::string longPath = "/usr/wifi/" + std::string(118, 'd');
    fs::create_directories(host(longPath));
    const WifiApParam param = ap("x", "", 0, "");
    WifiInfo info{};
    WifiList list{1, &info};
    capture_output([&] {
        EXPECT_EQ(ZQSDK_WifiInit("", "/usr/wifi", 1), -1);
        EXPECT_EQ(ZQSDK_WifiInit(nullptr, "/usr/wifi", 1), -1);
        EXPECT_EQ(ZQSDK_WifiInit("wlan0;id", "/usr/wifi", 1), -1);
        EXPECT_EQ(ZQSDK_WifiInit("wlan0", longPath.c_str(), 1), -1);
        EXPECT_EQ(ZQSDK_WifiInit("wlan0", "/nowhere", 1), -1);
        EXPECT_EQ(ZQSDK_WifiCreateAp(&param), -1);
        EXPECT_EQ(ZQSDK_WifiConnectSTA("x", nullptr), -1);
        EXPECT_EQ(ZQSDK_WifiGetList(&list), -1);
        EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("x", &info), -1);
        EXPECT_EQ(ZQSDK_WifiSwitchChannel(6), -1);
        EXPECT_EQ(ZQSDK_WifiGetLocalInfo(&info), -1);
    });
    EXPECT_TRUE(commands().empty());
    capture_output([] { EXPECT_EQ(ZQSDK_WifiExit(), 0); });
    EXPECT_EQ(::kill(client, 0), 0);
    EXPECT_TRUE(journal_events("kill").empty());

    const std::string script = board("/usr/wifi/udhcpc.script");
    fs::remove(host("/usr/wifi/udhcpc.script"));
    capture_output([] { EXPECT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 3), -1); });
    EXPECT_STREQ(g_WifiState.g_EthName, "");
    write_board_file(dir(), "/usr/wifi/udhcpc.script", script);
    capture_output([] { EXPECT_EQ(ZQSDK_WifiInit("eth9", "/usr/wifi", 3), -1); });
    init(3);
    init(0);
    EXPECT_EQ(g_WifiState.g_EthType, 3);
    EXPECT_EQ(::kill(client, 0), 0);  // another interface's client

    // Hostile values of an initialised interface: nothing killed or started.
    pid_t supplicant = start_idle({"wpa_supplicant", "-iwlan0"});
    pid_t hostapd = start_idle({"hostapd"});
    commands();
    // One of each kind: the rules themselves are the input checks' own test.
    std::vector<WifiApParam> aps = {ap("evil\nwpa=0", "", 0, ""), ap("ok", "short", 0, ""),
                                    ap("ok", "", 0, "1.2.3.4;reboot"), ap("", "", 0, "")};
    capture_output([&] {
        for (const WifiApParam &p : aps) EXPECT_EQ(ZQSDK_WifiCreateAp(&p), -1);
        EXPECT_EQ(ZQSDK_WifiConnectSTA("a\nb", nullptr), -1);
        EXPECT_EQ(ZQSDK_WifiConnectSTA("ok", "1234567\n8"), -1);
    });
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(journal_events("kill").empty());
    EXPECT_EQ(::kill(supplicant, 0) | ::kill(hostapd, 0), 0);
    EXPECT_FALSE(fs::exists(host("/var/wifi/hostapd.conf")));
}

TEST_F(WifiTest, SwitchModeRebuildsTheInterfaceAndChecksTheResult) {
    init();
    commands();
    EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MONITOR), 0);
    EXPECT_EQ(commands(),
              std::vector<std::string>({tools_ + "/iw dev wlan0 del",
                                        tools_ + "/iw phy phy0 interface add wlan0 type monitor",
                                        "ifconfig wlan0 up"}));
    EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MONITOR), 0);
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(ZQSDK_WifiSwitchChannel(11), 0);
    EXPECT_EQ(commands(), std::vector<std::string>({tools_ + "/iw dev wlan0 set channel 11"}));
    capture_output([] { EXPECT_EQ(ZQSDK_WifiSwitchChannel(200), -1); });
    commands();
    EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MANAGED), 0);
    EXPECT_EQ(commands(),
              std::vector<std::string>({"ifconfig wlan0 down", tools_ + "/iw dev wlan0 del",
                                        tools_ + "/iw phy phy0 interface add wlan0 type managed",
                                        "ifconfig wlan0 up",
                                        "echo \"0\" > " + dir() + "/var/tmp/wpa_state"}));
    capture_output([&] {
        EXPECT_EQ(ZQSDK_WifiSwitchMode(2), -1);
        EXPECT_EQ(ZQSDK_WifiSwitchChannel(6), -1);  // not in monitor mode
        // The interface does not come back in monitor mode: no success.
        write_board_file(dir(), "/usr/wifi/iw", "#!/bin/sh\nexit 1\n");
        EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MONITOR), -1);
    });
}

// text without its comment lines and with each `from` replaced by its `to`.
std::string edited(std::string text,
                   const std::vector<std::pair<std::string, std::string>> &edits) {
    for (size_t at = 0; (at = text.find('#', at)) != std::string::npos;)
        if (at == 0 || text[at - 1] == '\n')
            text.erase(at, text.find('\n', at) + 1 - at);
        else
            ++at;
    for (const auto &[from, to] : edits) {
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    }
    return text;
}

TEST_F(WifiTest, AccessPointFilesCommandsAndBoardState) {
    init(3);
    commands();
    WifiApParam secured = ap("Cam \"1\" ;id", "pass=word 1", 0, "192.168.5.1");
    EXPECT_EQ(ZQSDK_WifiCreateAp(&secured), 0);
    const std::string hostapdTemplate = board("/usr/wifi/hostapd.conf");
    EXPECT_EQ(board("/var/wifi/hostapd.conf"),
              edited(hostapdTemplate, {{"ssid=ZQ-Camera", "ssid=Cam \"1\" ;id"},
                                       {"passphrase=zq-camera-setup", "passphrase=pass=word 1"}}));
    EXPECT_EQ(
        board("/var/wifi/udhcpd.conf"),
        edited(board("/usr/wifi/udhcpd.conf"), {{"10.20", "5.20"},
                                                {"10.254", "5.254"},
                                                {"dns\t192.168.10.1", "dns\t192.168.5.1"},
                                                {"router\t192.168.10.1", "router\t192.168.5.1"}}));
    EXPECT_EQ(commands(), std::vector<std::string>(
                              {"ifconfig wlan0 192.168.5.1 netmask 255.255.255.0",
                               "route add -net 192.168.5.0 netmask 255.255.255.0 dev wlan0",
                               tools_ + "/hostapd " + dir() + "/var/wifi/hostapd.conf -B",
                               "udhcpd -fS " + dir() + "/var/wifi/udhcpd.conf &",
                               "dnsd -c " + dir() + "/etc/dnsd.conf&"}));
    EXPECT_NE(g_WifiState.g_ApStartMs, 0);

    WifiApParam open = ap("Open", "", 11, "");
    commands();
    EXPECT_EQ(ZQSDK_WifiCreateAp(&open), 0);
    EXPECT_EQ(board("/var/wifi/hostapd.conf"),
              edited(hostapdTemplate, {{"ssid=ZQ-Camera", "ssid=Open"},
                                       {"channel=6", "channel=11"},
                                       {"wpa=2\nwpa_passphrase=zq-camera-setup\nwpa_key_mgmt=WPA-"
                                        "PSK\nwpa_pairwise=CCMP\nrsn_pairwise=CCMP\n",
                                        ""}}));
    EXPECT_EQ(commands()[0], "ifconfig wlan0 192.168.10.1 netmask 255.255.255.0");

    write_board_file(dir(), "/usr/wifi/hostapd", "#!/bin/sh\nexit 1\n");
    capture_output([&] { EXPECT_EQ(ZQSDK_WifiCreateAp(&open), -1); });
    EXPECT_TRUE(board_processes({"hostapd", "udhcpd"}).empty());
}

sim::RadioNetwork network(const std::string &ssid, double signal, const std::string &passphrase,
                          const std::string &join = "ok", const std::string &lease = "") {
    return {ssid, "", signal, 6, passphrase, join, lease};
}

TEST_F(WifiTest, StationJoinsTheRadiosNetworksAndAnAccessPointTakesOverTheInterface) {
    init();
    struct Row {
        sim::RadioNetwork network;
        const char *passphrase;
        int result;
        int quality = 0;                               // of the link, when joined
        const char *ip = nullptr, *gateway = nullptr;  // the leased address, when joined
    } rows[] = {
        {network("Home \"1\"", -60, "p@ss \"w\" $(id)", "ok", "172.16.5.20/24"), "p@ss \"w\" $(id)",
         0, 69, "172.16.5.20", "172.16.5.1"},
        {network("Shop", -50, "right-pass-2"), "wrong-pass-2", -2},
        {network("Silent", -50, "pass-word-1", "never"), "pass-word-1", -1},
        {network("Caf\xc3\xa9 2", -85, "", "ok", "10.1.0.9/16"), nullptr, 0, 30, "10.1.0.9",
         "10.1.0.1"},
    };
    std::string error;
    for (const Row &row : rows) ASSERT_TRUE(sim::add_network(dir(), row.network, &error)) << error;
    for (const Row &row : rows) {
        const std::string &ssid = row.network.ssid;
        EXPECT_EQ(ZQSDK_WifiConnectSTA(ssid.c_str(), row.passphrase), row.result) << ssid;
        EXPECT_EQ(g_WifiState.g_StaConnecting.load() | g_WifiState.g_StaAbort.load(), 0);
        if (row.result != 0) {
            EXPECT_EQ(board_processes(kStationTools), std::vector<std::string>()) << ssid;
            continue;
        }
        WifiInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(ZQSDK_WifiGetLocalInfo(&info), 0);
        EXPECT_EQ(info.szSsid, ssid);
        EXPECT_STREQ(info.szPsk, row.passphrase ? row.passphrase : "");
        EXPECT_EQ(info.s32Quality, row.quality) << ssid;
        EXPECT_EQ(info.bOpen, row.passphrase ? 0 : 1);
        EthAttr attr{};
        EXPECT_EQ(ZQSDK_WifiGetEthAttr("wlan0", &attr), 0);
        EXPECT_EQ(std::string(attr.szIp) + " " + attr.szGateway,
                  std::string(row.ip) + " " + row.gateway);
    }
    EXPECT_EQ(board("/var/wifi/wpa.conf"),
              "ctrl_interface=/var/run/wpa_supplicant\nupdate_config=1\nap_scan=1\n\nnetwork={\n"
              "\tssid=\"Caf\xc3\xa9 2\"\n\tkey_mgmt=NONE\n}\n");
    std::vector<std::string> run = commands();
    for (const std::string &command :
         {tools_ + "/wpa_supplicant -iwlan0 -Dnl80211 -f " + dir() + "/var/tmp/wpa_log -c " +
              dir() + "/var/wifi/wpa.conf -B",
          "udhcpc -i wlan0 -s " + tools_ + "/udhcpc.script >" + dir() + "/var/tmp/udhcpc_log&"})
        EXPECT_EQ(std::count(run.begin(), run.end(), command), 4) << command;

    // The access point takes the interface from the joined station: no station
    // tool is left. With SIGCHLD ignored (the kernel reaps the program's
    // children unasked) hostapd's start still counts as one.
    ASSERT_EQ(board_processes({"udhcpc -i wlan0"}).size(), 1u);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &previous);
    WifiApParam open = ap("Cam", "", 0, "");
    EXPECT_EQ(ZQSDK_WifiCreateAp(&open), 0);
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(board_processes(kStationTools), std::vector<std::string>());
}

TEST_F(WifiTest, ExitAbandonsAWaitingConnectionFromAnotherThread) {
    init();
    std::string error;
    ASSERT_TRUE(sim::add_network(dir(), network("Home", -50, "pass-word-1", "never"), &error));
    int result = 0;
    std::thread station([&] { result = ZQSDK_WifiConnectSTA("Home", "pass-word-1"); });
    ASSERT_TRUE(eventually([] { return g_WifiState.g_StaConnecting.load(); }));
    std::string err =
        capture_output([] { EXPECT_EQ(ZQSDK_WifiConnectSTA("Other", nullptr), -1); }).err;
    EXPECT_NE(err.find("Station connect already running\n"), std::string::npos) << err;
    EXPECT_EQ(ZQSDK_WifiExit(), 0);
    station.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_WifiState.g_StaConnecting.load() | g_WifiState.g_StaAbort.load(), 0);
    EXPECT_STREQ(g_WifiState.g_EthName, "");
    EXPECT_EQ(board_processes(kStationTools), std::vector<std::string>());
}

TEST_F(WifiTest, ScansDecodeHostileSsidsStartNothingAndAreStoppedWhenTheyHang) {
    init();
    // Listed strongest first, whatever the order on the air.
    const std::vector<sim::RadioNetwork> radio = {
        network("BSS 02:00:00:00:00:09(on wlan0)", -55, ""),
        network("RSN:\t * Version: 1", -60, ""),
        network("two\nlines", -51, "pass-word-1"),
        network("Home Net 5", -75, "pass-word-1"),
        network(std::string(32, '\xfe'), -80, ""),
    };
    std::string error;
    for (const sim::RadioNetwork &n : radio)
        ASSERT_TRUE(sim::add_network(dir(), n, &error)) << error;
    commands();
    std::vector<sim::RadioNetwork> strongest = radio;
    std::stable_sort(strongest.begin(), strongest.end(),
                     [](const auto &a, const auto &b) { return a.signal > b.signal; });
    for (int count : {3, 10}) {
        std::vector<WifiInfo> infos(static_cast<size_t>(count));
        WifiList list{count, infos.data()};
        EXPECT_EQ(ZQSDK_WifiGetList(&list), std::min<int>(count, static_cast<int>(radio.size())));
        for (size_t i = 0; i < std::min(infos.size(), radio.size()); ++i) {
            EXPECT_EQ(infos[i].szSsid, strongest[i].ssid) << i;
            EXPECT_EQ(infos[i].bOpen, strongest[i].passphrase.empty() ? 1 : 0) << i;
        }
    }
    WifiInfo found;
    EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("Home Net 5", &found), 0);
    EXPECT_EQ(std::string(found.szBssid) + " " + found.szSsid + " " +
                  std::to_string(found.s32Quality) + " " + std::to_string(found.s32Channel),
              sim::bssid_for("Home Net 5") + " Home Net 5 50 6");
    WifiInfo absent;
    std::memset(&absent, 0x5A, sizeof absent);
    EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("Absent", &absent), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&absent), sizeof absent),
              std::string(sizeof absent, '\0'));
    const std::string scan =
        tools_ + "/iw dev wlan0 scan | egrep 'BSS|signal|SSID|primary channel|RSN' | sed '/OBSS/d'";
    EXPECT_EQ(commands(), std::vector<std::string>(4, scan));
    EXPECT_TRUE(journal_events("kill").empty());

    // The real iw can miss the kernel's report that its scan is done and wait
    // for ever: a scan that gives nothing in time is stopped and fails.
    ASSERT_TRUE(sim::set_scan_answer(dir(), "hang"));
    std::vector<WifiInfo> infos(4);
    WifiList list{4, infos.data()};
    capture_output([&] {
        EXPECT_EQ(ZQSDK_WifiGetList(&list), -1);
        EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("Home Net 5", &found), -1);
    });
    EXPECT_EQ(journal_events("kill").size(), 2u);

    ASSERT_TRUE(sim::set_scan_answer(dir(), "answer"));
    EXPECT_EQ(ZQSDK_WifiGetList(&list), 4);
}

// A template whose line for a value is commented out is refused before
// anything starts: the tool would run with the template's setting.
TEST_F(WifiTest, TemplatesTakeEveryValueOrNothingStarts) {
    init();
    std::string error;
    ASSERT_TRUE(sim::add_network(dir(), network("Home", -50, "pass-word-1"), &error)) << error;
    const std::string hostapd = board("/usr/wifi/hostapd.conf");
    write_board_file(dir(), "/usr/wifi/hostapd.conf", edited(hostapd, {{"\nwpa=2\n", "\n"}}));
    const std::string station = board("/usr/wifi/wpa_wpa2.conf");
    write_board_file(dir(), "/usr/wifi/wpa_wpa2.conf", edited(station, {{"\tpsk=", "\t#psk="}}));
    const WifiApParam secured = ap("Cam", "pass-word-1", 11, "");
    capture_output([&] {
        EXPECT_EQ(ZQSDK_WifiCreateAp(&secured), -1);
        EXPECT_EQ(ZQSDK_WifiConnectSTA("Home", "pass-word-1"), -1);
    });
    EXPECT_EQ(board_processes({"hostapd", "udhcpd", "wpa_supplicant", "udhcpc"}),
              std::vector<std::string>());
}

}  // namespace
