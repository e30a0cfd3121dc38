// The Wi-Fi operations on a virtual board with its own tools and radio:
// killers, life cycle, access point, station flow, scans and the refusal of
// hostile input. No test's commands may name a host path outside the board.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "emul/board.h"
#include "net/wifi_kill.h"
#include "net/wifi_state.h"
#include "emul/process_table.h"
#include "support/capture.h"
#include "support/host_safety.h"
#include "support/vboard_fixture.h"
#include "board/wifi_radio.h"
#include "board/wifi_records.h"
#include "zq_net.h"
#include "zq_wifi.h"

namespace {

namespace fs = std::filesystem;
namespace sim = zq::sim;
using zq::wifi::g_WifiState;

// Board seconds per host second: the longest station wait (about 93 board
// seconds) stays short, while the tools started through an emulator, or on
// a busy host, still act within the board's waits.
constexpr double kClockSpeed = 20;

class WifiTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        ASSERT_TRUE(sim::set_clock_speed(dir(), kClockSpeed));
        write_board_file(dir(), "/bin/idle", "#!/bin/sh\nexec sleep 60\n");
        ::chmod(host("/bin/idle").c_str(), 0755);
        tools_ = host("/usr/wifi");
    }
    void TearDown() override {
        capture_output([] { ZQSDK_WifiExit(); });
        for (const std::string &line :
             host_paths_outside_board(sim::read_board_file(dir(), "/journal"), dir()))
            ADD_FAILURE() << "outside the board: " << line;
        for (pid_t pid : started_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        VBoardTest::TearDown();
    }
    pid_t decoy(const std::vector<std::string> &argv) {
        std::string error;
        pid_t pid = sim::start_board_process(dir(), "idle", argv, &error);
        EXPECT_GT(pid, 0) << error;
        started_.push_back(pid);
        return pid;
    }
    // Whether pid was killed (reaped), waiting a little for the signal.
    static bool killed(pid_t pid) {
        for (int i = 0; i < 200; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return WIFSIGNALED(status);
            ::usleep(5000);
        }
        return false;
    }
    void init(int type = 1) {
        int rc = -1;
        std::string err =
            capture_output([&] { rc = ZQSDK_WifiInit("wlan0", "/usr/wifi", type); }).err;
        EXPECT_EQ(rc, 0) << err;
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
    // Puts a failing program in place of a board tool.
    void break_tool(const std::string &boardPath) {
        write_board_file(dir(), boardPath, "#!/bin/sh\nexit 1\n");
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

    // The running record of a tool, waiting for a tool started in the background.
    sim::ToolRecord record(const std::string &tool, const std::string &interface) {
        sim::ToolRecord r;
        for (int attempt = 0; attempt < 250; ++attempt, ::usleep(20000))
            if (sim::running_tool(dir(), tool, interface, &r)) return r;
        ADD_FAILURE() << tool << " is not running";
        return r;
    }
    EthAttr address() {
        EthAttr attr{};
        EXPECT_EQ(ZQSDK_WifiGetEthAttr("wlan0", &attr), 0);
        return attr;
    }

    std::string tools_;

  private:
    std::vector<pid_t> started_;
    size_t seen_ = 0;
};

TEST_F(WifiTest, KillersTakeWholeProgramNamesAndWholeArguments) {
    std::vector<pid_t> taken = {
        decoy({"wpa_supplicant", "-iwlan0"}), decoy({"/usr/wifi/wpa_supplicant", "-B"}),
        decoy({"udhcpc", "-i", "wlan0"}), decoy({"/usr/wifi/iw", "dev", "wlan0", "scan"})};
    std::vector<pid_t> spared = {decoy({"udhcpc", "-i", "wlan01"}), decoy({"udhcpc", "-iwlan0"}),
                                 decoy({"iwpriv", "wlan0"}),        decoy({"/sbin/iwconfig"}),
                                 decoy({"/tmp/iw/tool", "wlan0"}),  decoy({"my_wpa_supplicant"})};
    // A listed process that ended before its kill is no failure.
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    sim::register_board_process(dir(), ended, {"hostapd"});
    int owner = ::open(host("/proc/" + std::to_string(ended) + "/owner").c_str(),
                       O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::flock(owner, LOCK_EX), 0);

    zq::wifi::ProcKillList list = zq::wifi::MakeKillList(
        {{"wpa_supplicant", nullptr}, {"udhcpc", "wlan0"}, {"hostapd", nullptr}});
    EXPECT_EQ(zq::wifi::KillProcessList(&list), 0);
    EXPECT_EQ(zq::wifi::KillIwProcess(), 0);
    ::close(owner);
    for (pid_t pid : taken) EXPECT_TRUE(killed(pid)) << pid;
    for (pid_t pid : spared) EXPECT_EQ(::kill(pid, 0), 0) << pid;
}

TEST_F(WifiTest, InitRefusesBeforeKillingAndOperationsNeedAnInterface) {
    pid_t client = decoy({"udhcpc", "-i", "eth2"});
    const std::string longPath = "/usr/wifi/" + std::string(118, 'd');
    struct Row {
        const char *name, *path;
        const char *message;
    } rows[] = {
        {"", "/usr/wifi", "Set path error: pEthName  pConfigPath /usr/wifi\n"},
        {nullptr, "/usr/wifi", "Set path error: pEthName (null)"},
        {"wlan0;id", "/usr/wifi", "Set path error: pEthName wlan0;id"},
        {"wlan0", longPath.c_str(), "Set path error: pEthName wlan0"},
        {"wlan0", "/nowhere", "Set path error: pEthName wlan0 pConfigPath /nowhere\n"},
    };
    fs::create_directories(host(longPath));
    for (const Row &row : rows) {
        int rc = 0;
        std::string err = capture_output([&] { rc = ZQSDK_WifiInit(row.name, row.path, 1); }).err;
        EXPECT_EQ(rc, -1);
        EXPECT_NE(err.find(row.message), std::string::npos) << err;
    }
    EXPECT_TRUE(journal_events("kill").empty());
    EXPECT_TRUE(commands().empty());
    WifiApParam ap{};
    std::strcpy(ap.szSsid, "x");
    WifiInfo info{};
    WifiList list{1, &info};
    std::vector<std::function<int()>> calls = {
        [&] { return ZQSDK_WifiCreateAp(&ap); },
        [&] { return ZQSDK_WifiConnectSTA("x", nullptr); },
        [&] { return ZQSDK_WifiGetList(&list); },
        [&] { return ZQSDK_WifiGetInfoBySsid("x", &info); },
        [&] { return ZQSDK_WifiSwitchChannel(6); },
        [&] { return ZQSDK_WifiGetLocalInfo(&info); },
    };
    for (auto &call : calls) {
        int rc = 0;
        std::string err = capture_output([&] { rc = call(); }).err;
        EXPECT_EQ(rc, -1);
        EXPECT_NE(err.find("Wifi is not initialised\n"), std::string::npos) << err;
    }
    Captured exit = capture_output([] { EXPECT_EQ(ZQSDK_WifiExit(), 0); });
    EXPECT_EQ(::kill(client, 0), 0);
    EXPECT_TRUE(journal_events("kill").empty());

    const std::string script = board("/usr/wifi/udhcpc.script");
    fs::remove(host("/usr/wifi/udhcpc.script"));
    Captured missing =
        capture_output([] { EXPECT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 3), -1); });
    EXPECT_NE(missing.err.find("Tools Error: /usr/wifi/udhcpc.script not exist\n"),
              std::string::npos);
    EXPECT_STREQ(g_WifiState.g_EthName, "");
    write_board_file(dir(), "/usr/wifi/udhcpc.script", script);
    Captured absent = capture_output([] { EXPECT_EQ(ZQSDK_WifiInit("eth9", "/usr/wifi", 3), -1); });
    EXPECT_NE(absent.err.find("Eth name ivalid, eth9\n"), std::string::npos);
    init(3);
    init(0);
    EXPECT_EQ(g_WifiState.g_EthType, 3);
    EXPECT_EQ(::kill(client, 0), 0);  // another interface's client
}

// The channel "iw dev IF set channel N" tuned the interface to, as the board
// recorded it; 0 when none.
int tuned_channel(const std::string &dir, const char *iface) {
    json_object *root = json_object_from_file((dir + "/board.json").c_str());
    int channel = json_object_get_int(json_object_object_get(
        json_object_object_get(json_object_object_get(root, "wifi"), "channels"), iface));
    json_object_put(root);
    return channel;
}

TEST_F(WifiTest, SwitchModeRebuildsTheInterfaceAndChecksTheResult) {
    init();
    const std::string d = dir();
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
    EXPECT_EQ(tuned_channel(d, "wlan0"), 11);
    // What iw refuses is no change of channel.
    std::string refused = capture_output([] {
                              EXPECT_EQ(ZQSDK_WifiSwitchChannel(200), -1);
                              EXPECT_EQ(ZQSDK_WifiSwitchChannel(-5), -1);
                          }).err;
    EXPECT_NE(refused.find("Set channel 200 failed\n"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("[INFO]"), std::string::npos) << refused;
    EXPECT_EQ(tuned_channel(d, "wlan0"), 11);
    commands();
    EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MANAGED), 0);
    EXPECT_EQ(commands(), std::vector<std::string>(
                              {"ifconfig wlan0 down", tools_ + "/iw dev wlan0 del",
                               tools_ + "/iw phy phy0 interface add wlan0 type managed",
                               "ifconfig wlan0 up", "echo \"0\" > " + d + "/var/tmp/wpa_state"}));
    std::string err = capture_output([] {
                          EXPECT_EQ(ZQSDK_WifiSwitchMode(2), -1);
                          EXPECT_EQ(ZQSDK_WifiSwitchMode(static_cast<unsigned>(-1)), -1);
                      }).err;
    EXPECT_NE(err.find("Argure Error: g_EthName wlan0 type 2\n"), std::string::npos);
    std::string channel = capture_output([] { EXPECT_EQ(ZQSDK_WifiSwitchChannel(6), -1); }).err;
    EXPECT_NE(channel.find("Net card is not in monitor mode\n"), std::string::npos);
    EXPECT_EQ(tuned_channel(d, "wlan0"), 11);
    // The interface does not come back in monitor mode: no success.
    break_tool("/usr/wifi/iw");
    capture_output([] { EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MONITOR), -1); });
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
    const std::string d = dir();
    EXPECT_EQ(commands(), std::vector<std::string>(
                              {"ifconfig wlan0 192.168.5.1 netmask 255.255.255.0",
                               "route add -net 192.168.5.0 netmask 255.255.255.0 dev wlan0",
                               tools_ + "/hostapd " + d + "/var/wifi/hostapd.conf -B",
                               "udhcpd -fS " + d + "/var/wifi/udhcpd.conf &",
                               "dnsd -c " + d + "/etc/dnsd.conf&"}));
    EXPECT_NE(g_WifiState.g_ApStartMs, 0);
    sim::ToolRecord hostapd = record("hostapd", "wlan0"), pool = record("udhcpd", "wlan0");
    EXPECT_EQ(hostapd.fields["ssid"], "Cam \"1\" ;id");
    EXPECT_EQ(hostapd.fields["channel"], "6");
    EXPECT_EQ(hostapd.fields["passphrase"], "pass=word 1");
    EXPECT_EQ(pool.fields["start"] + " " + pool.fields["end"] + " " + pool.fields["router"] + " " +
                  pool.fields["dns"],
              "192.168.5.20 192.168.5.254 192.168.5.1 192.168.5.1");
    EXPECT_EQ(record("dnsd", "").fields["config"], "/etc/dnsd.conf");
    EthAttr attr = address();
    EXPECT_STREQ(attr.szIp, "192.168.5.1");
    EXPECT_STREQ(attr.szNetmask, "255.255.255.0");
    EXPECT_NE(board("/proc/net/route").find("wlan0\t0005A8C0\t00000000"), std::string::npos);

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
    hostapd = record("hostapd", "wlan0");
    EXPECT_EQ(
        hostapd.fields["ssid"] + " " + hostapd.fields["channel"] + " " + hostapd.fields["wpa"],
        "Open 11 0");
    EXPECT_EQ(record("udhcpd", "wlan0").fields["start"], "192.168.10.20");
    EXPECT_STREQ(address().szIp, "192.168.10.1");

    break_tool("/usr/wifi/hostapd");
    capture_output([&] { EXPECT_EQ(ZQSDK_WifiCreateAp(&open), -1); });
    EXPECT_TRUE(board_processes({"hostapd", "udhcpd"}).empty());
}

TEST_F(WifiTest, HostileInputIsRefusedBeforeAnythingIsKilledOrStarted) {
    init();
    pid_t supplicant = decoy({"wpa_supplicant", "-iwlan0"});
    pid_t hostapd = decoy({"hostapd"});
    commands();
    std::vector<WifiApParam> aps = {ap("evil\nwpa=0", "", 0, ""),
                                    ap(std::string(33, 's').c_str(), "", 0, ""),
                                    ap("ok", "short", 0, ""),
                                    ap("ok", "12345678\nwpa_psk=0", 0, ""),
                                    ap("ok", "", 0, "1.2.3.4;reboot"),
                                    ap("ok", "", 0, "192.168.5.300"),
                                    ap("", "", 0, "")};
    std::string err = capture_output([&] {
                          for (const WifiApParam &p : aps) EXPECT_EQ(ZQSDK_WifiCreateAp(&p), -1);
                          EXPECT_EQ(ZQSDK_WifiConnectSTA("a\nb", nullptr), -1);
                          EXPECT_EQ(ZQSDK_WifiConnectSTA("ok", "1234567\n8"), -1);
                          EXPECT_EQ(ZQSDK_WifiConnectSTA(std::string(40, 'x').c_str(), ""), -1);
                      }).err;
    EXPECT_NE(err.find("IP addr invaled, 1.2.3.4;reboot\n"), std::string::npos);
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(journal_events("kill").empty());
    EXPECT_EQ(::kill(supplicant, 0) | ::kill(hostapd, 0), 0);
    EXPECT_FALSE(fs::exists(host("/var/wifi/hostapd.conf")));
}

sim::RadioNetwork network(const std::string &ssid, double signal, const std::string &passphrase,
                          const std::string &join = "ok", const std::string &lease = "") {
    sim::RadioNetwork n;
    n.ssid = ssid;
    n.signal = signal;
    n.passphrase = passphrase;
    n.join = join;
    n.lease = lease;
    return n;
}

TEST_F(WifiTest, StationFlowJoinsTheRadiosNetworks) {
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
        {network("Broken", -50, "pass-word-1", "handshake-fail"), "pass-word-1", -2},
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
        EXPECT_EQ(record("wpa_supplicant", "wlan0").fields["state"], "completed");
        EXPECT_EQ(record("udhcpc", "wlan0").fields["ip"], row.ip);
        WifiInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(ZQSDK_WifiGetLocalInfo(&info), 0);
        EXPECT_EQ(info.szSsid, ssid);
        EXPECT_STREQ(info.szPsk, row.passphrase ? row.passphrase : "");
        EXPECT_EQ(info.s32Quality, row.quality) << ssid;
        EXPECT_EQ(info.bOpen, row.passphrase ? 0 : 1);
        EthAttr attr = address();
        EXPECT_EQ(std::string(attr.szIp) + " " + attr.szGateway,
                  std::string(row.ip) + " " + row.gateway);
    }
    EXPECT_EQ(board("/var/wifi/wpa.conf"),
              "ctrl_interface=/var/run/wpa_supplicant\nupdate_config=1\nap_scan=1\n\nnetwork={\n"
              "\tssid=\"Caf\xc3\xa9 2\"\n\tkey_mgmt=NONE\n}\n");
    const std::string d = dir();
    std::vector<std::string> run = commands();
    for (const std::string &command :
         {tools_ + "/wpa_supplicant -iwlan0 -Dnl80211 -f " + d + "/var/tmp/wpa_log -c " + d +
              "/var/wifi/wpa.conf -B",
          "udhcpc -i wlan0 -s " + tools_ + "/udhcpc.script >" + d + "/var/tmp/udhcpc_log&"})
        EXPECT_EQ(std::count(run.begin(), run.end(), command), 5) << command;
}

TEST_F(WifiTest, ExitAbandonsAWaitingConnectionFromAnotherThread) {
    init();
    std::string error;
    ASSERT_TRUE(sim::add_network(dir(), network("Home", -50, "pass-word-1", "never"), &error));
    int result = 0;
    std::thread station([&] { result = ZQSDK_WifiConnectSTA("Home", "pass-word-1"); });
    while (!g_WifiState.g_StaConnecting.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::string err =
        capture_output([] { EXPECT_EQ(ZQSDK_WifiConnectSTA("Other", nullptr), -1); }).err;
    EXPECT_NE(err.find("Station connect already running\n"), std::string::npos);
    EXPECT_EQ(ZQSDK_WifiExit(), 0);
    station.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_WifiState.g_StaConnecting.load() | g_WifiState.g_StaAbort.load(), 0);
    EXPECT_STREQ(g_WifiState.g_EthName, "");
    EXPECT_EQ(board_processes(kStationTools), std::vector<std::string>());
}

TEST_F(WifiTest, ScansDecodeHostileSsidsAndStartNothing) {
    init();
    // Listed strongest first, whatever the order on the air.
    const std::vector<sim::RadioNetwork> radio = {
        network("BSS 02:00:00:00:00:09(on wlan0)", -55, ""),
        network("RSN:\t * Version: 1", -60, ""),
        network("two\nlines", -51, "pass-word-1"),
        network("$(reboot)", -65, ""),
        network("x41\\x42", -70, ""),
        network("Home Net 5", -75, "pass-word-1"),
        network("\xff\xfe\x80 caf\xc3", -85, ""),
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
    EXPECT_EQ(std::string(found.szBssid) + " " + found.szSsid,
              sim::bssid_for("Home Net 5") + " Home Net 5");
    EXPECT_EQ(found.s32Quality, 50);
    EXPECT_EQ(found.s32Channel, 6);
    WifiInfo absent;
    std::memset(&absent, 0x5A, sizeof absent);
    EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("Absent", &absent), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&absent), sizeof absent),
              std::string(sizeof absent, '\0'));
    const std::string scan =
        tools_ + "/iw dev wlan0 scan | egrep 'BSS|signal|SSID|primary channel|RSN' | sed '/OBSS/d'";
    EXPECT_EQ(commands(), std::vector<std::string>(4, scan));
    EXPECT_TRUE(journal_events("kill").empty());
}

// The real iw can miss the kernel's report that its scan is done and wait
// for ever: a scan that gives nothing in time is stopped and fails.
TEST_F(WifiTest, AScanThatNeverAnswersIsStoppedAndFails) {
    init();
    std::string error;
    ASSERT_TRUE(sim::add_network(dir(), network("Home", -50, ""), &error)) << error;
    ASSERT_TRUE(sim::set_scan_answer(dir(), "hang"));
    std::vector<WifiInfo> infos(4);
    WifiList list{4, infos.data()};
    std::string err = capture_output([&] { EXPECT_EQ(ZQSDK_WifiGetList(&list), -1); }).err;
    EXPECT_NE(err.find("Scan on wlan0 gave no answer in 15 s, stopped"), std::string::npos) << err;
    WifiInfo found;
    capture_output([&] { EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("Home", &found), -1); });
    EXPECT_EQ(journal_events("kill").size(), 2u);

    ASSERT_TRUE(sim::set_scan_answer(dir(), "answer"));
    EXPECT_EQ(ZQSDK_WifiGetList(&list), 1);
}

// A template whose line for a value is missing or commented out is refused
// before anything starts; an indented line is rewritten in place (hostapd
// itself refuses indented lines, so its start fails); duplicates all change.
TEST_F(WifiTest, TemplatesTakeEveryValueOrNothingStarts) {
    init();
    std::string error;
    ASSERT_TRUE(sim::add_network(dir(), network("Home", -50, "pass-word-1"), &error)) << error;
    const std::string hostapd = board("/usr/wifi/hostapd.conf"),
                      udhcpd = board("/usr/wifi/udhcpd.conf"),
                      station = board("/usr/wifi/wpa_wpa2.conf");
    struct Row {
        const char *name, *file;
        std::string original, from, to;
        int result;
        const char *made;  // a line of the made file, when one was made
    } rows[] = {
        {"wpa commented out", "hostapd.conf", hostapd, "\nwpa=2\n", "\n#wpa=2\n", -1, nullptr},
        {"ssid missing", "hostapd.conf", hostapd, "\nssid=ZQ-Camera\n", "\n", -1, nullptr},
        {"interface missing", "udhcpd.conf", udhcpd, "interface\twlan0\n", "", -1, nullptr},
        {"channel twice", "hostapd.conf", hostapd, "\nchannel=6\n", "\nchannel=6\nchannel=1\n", 0,
         "\nchannel=11\nchannel=11\n"},
        {"hostapd indented", "hostapd.conf", hostapd, "\nssid=", "\n  ssid=", -1, "\n  ssid=Cam\n"},
        {"station indented", "wpa_wpa2.conf", station, "\t", "    ", 0, "\n    ssid=\"Home\"\n"},
        {"psk commented out", "wpa_wpa2.conf", station, "\tpsk=", "\t#psk=", -1, nullptr},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string text = row.original;
        for (size_t at = 0; (at = text.find(row.from, at)) != std::string::npos;
             at += row.to.size())
            text.replace(at, row.from.size(), row.to);
        write_board_file(dir(), std::string("/usr/wifi/") + row.file, text);
        fs::remove(host("/var/wifi/hostapd.conf"));
        fs::remove(host("/var/wifi/wpa.conf"));
        int rc = 0;
        std::string err;
        if (std::string(row.file) == "wpa_wpa2.conf") {
            err = capture_output([&] { rc = ZQSDK_WifiConnectSTA("Home", "pass-word-1"); }).err;
        } else {
            WifiApParam secured = ap("Cam", "pass-word-1", 11, "");
            err = capture_output([&] { rc = ZQSDK_WifiCreateAp(&secured); }).err;
        }
        EXPECT_EQ(rc, row.result) << err;
        std::string made =
            board(std::string("/var/wifi/") +
                  (std::string(row.file) == "wpa_wpa2.conf" ? "wpa.conf" : row.file));
        if (row.made) {
            EXPECT_NE(made.find(row.made), std::string::npos) << made;
        } else {
            EXPECT_NE(err.find("No line for key "), std::string::npos) << err;
        }
        if (row.result != 0) {
            EXPECT_EQ(board_processes({"hostapd", "udhcpd", "wpa_supplicant", "udhcpc"}),
                      std::vector<std::string>());
        }
        write_board_file(dir(), std::string("/usr/wifi/") + row.file, row.original);
    }
}

// The access point takes the interface from a joined station: no station
// tool is left to renew, deconfigure or lease from the camera's own server.
// The program ignores SIGCHLD, so the kernel reaps its children unasked:
// hostapd's start still counts as one, and udhcpd follows it.
TEST_F(WifiTest, AccessPointAfterTheStationLeavesNoStationToolRunning) {
    init();
    std::string error;
    ASSERT_TRUE(sim::add_network(dir(), network("Home", -50, "pass-word-1"), &error)) << error;
    ASSERT_EQ(ZQSDK_WifiConnectSTA("Home", "pass-word-1"), 0);
    ASSERT_EQ(board_processes({"udhcpc -i wlan0"}).size(), 1u);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &previous);
    WifiApParam open = ap("Cam", "", 14, "");
    EXPECT_EQ(ZQSDK_WifiCreateAp(&open), 0);
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(board_processes(kStationTools), std::vector<std::string>());
    EXPECT_EQ(record("hostapd", "wlan0").fields["channel"], "14");  // passed on: hw_mode=g has it
    EXPECT_EQ(record("udhcpd", "wlan0").interface, "wlan0");
    WifiApParam fiveGHz = ap("Cam", "", 36, "");
    std::string err = capture_output([&] { EXPECT_EQ(ZQSDK_WifiCreateAp(&fiveGHz), -1); }).err;
    EXPECT_NE(err.find("Start hostapd failed\n"), std::string::npos) << err;
}

// The first of pids that a walk of the board's "/proc" (its host
// directory procDir) meets.
pid_t met_first(const std::string &procDir, const std::vector<pid_t> &pids) {
    for (const fs::directory_entry &entry : fs::directory_iterator(procDir)) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (std::find(pids.begin(), pids.end(), std::stoi(name)) != pids.end())
            return std::stoi(name);
    }
    return -1;
}

// A process the board may not kill (another user's) is reported and the
// walk goes on: the list's later matches are killed all the same.
TEST_F(WifiTest, KillersGoOnPastAProcessOfAnotherUser) {
    std::vector<pid_t> hostapds = {decoy({"hostapd"}), decoy({"hostapd"}), decoy({"hostapd"})};
    std::vector<pid_t> iws = {decoy({"iw", "dev"}), decoy({"iw", "dev"})};
    pid_t foreign = met_first(host("/proc"), hostapds), foreignIw = met_first(host("/proc"), iws);
    ASSERT_TRUE(sim::set_board_process_user(dir(), foreign, "www-data"));
    ASSERT_TRUE(sim::set_board_process_user(dir(), foreignIw, "www-data"));
    zq::wifi::ProcKillList list = zq::wifi::MakeKillList({{"hostapd", nullptr}});
    Captured out = capture_output([&] {
        EXPECT_EQ(zq::wifi::KillProcessList(&list), -1);
        EXPECT_EQ(zq::wifi::KillIwProcess(), -1);
    });
    EXPECT_EQ(out.out, "kill pid " + std::to_string(foreign) + " name hostapd failed\n");
    for (pid_t pid : {foreign, foreignIw}) EXPECT_EQ(::kill(pid, 0), 0) << pid;
    for (pid_t pid : hostapds) EXPECT_TRUE(pid == foreign || killed(pid)) << pid;
    for (pid_t pid : iws) EXPECT_TRUE(pid == foreignIw || killed(pid)) << pid;
    EXPECT_EQ(count_of(board("/journal"), " signal 9 refused: a process of user www-data"), 2u);
}

}  // namespace
