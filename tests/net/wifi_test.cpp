// The Wi-Fi operations on a virtual board with stand-in tools: killers,
// life cycle, access point, station flow and the refusal of hostile input.
#include <fcntl.h>
#include <gtest/gtest.h>
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

#include "board.h"
#include "net/wifi_kill.h"
#include "net/wifi_state.h"
#include "process_table.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "support/wifi_stand_ins.h"
#include "zq_wifi.h"

namespace {

namespace sim = zq::sim;
using zq::wifi::g_WifiState;

class WifiTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        install_wifi_stand_ins(dir());
        write_board_file(dir(), "/bin/idle", "#!/bin/sh\nexec sleep 60\n");
        ::chmod(host("/bin/idle").c_str(), 0755);
        tools_ = host("/usr/wifi");
    }
    void TearDown() override {
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
    std::string init(int type = 1) {
        int rc = -1;
        std::string err =
            capture_output([&] { rc = ZQSDK_WifiInit("wlan0", "/usr/wifi", type); }).err;
        EXPECT_EQ(rc, 0) << err;
        return err;
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
    std::filesystem::create_directories(host(longPath));
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

    std::filesystem::remove(host("/usr/wifi/udhcpc.script"));
    Captured missing =
        capture_output([] { EXPECT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 3), -1); });
    EXPECT_NE(missing.err.find("Tools Error: /usr/wifi/udhcpc.script not exist\n"),
              std::string::npos);
    EXPECT_STREQ(g_WifiState.g_EthName, "");
    write_board_file(dir(), "/usr/wifi/udhcpc.script", "");
    Captured absent = capture_output([] { EXPECT_EQ(ZQSDK_WifiInit("eth9", "/usr/wifi", 3), -1); });
    EXPECT_NE(absent.err.find("Eth name ivalid, eth9\n"), std::string::npos);
    init(3);
    init(0);
    EXPECT_EQ(g_WifiState.g_EthType, 3);
    EXPECT_EQ(::kill(client, 0), 0);  // another interface's client
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
    // The interface does not come back in monitor mode: no success.
    std::filesystem::remove(host("/usr/wifi/ifconfig.monitor"));
    capture_output([] { EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MONITOR), -1); });
}

WifiApParam ap(const char *ssid, const char *pass, unsigned channel, const char *ip) {
    WifiApParam p{};
    std::strncpy(p.szSsid, ssid, sizeof p.szSsid);
    std::strncpy(p.szPasswd, pass, sizeof p.szPasswd);
    p.s32Channel = channel;
    std::strncpy(p.szIp, ip, sizeof p.szIp);
    return p;
}

TEST_F(WifiTest, AccessPointFilesAndCommands) {
    init(3);
    write_board_file(dir(), "/sbin/dnsd", "");
    write_board_file(dir(), "/etc/dnsd.conf", "");
    commands();
    WifiApParam secured = ap("Cam \"1\" ;id", "pass=word 1", 0, "192.168.5.1");
    EXPECT_EQ(ZQSDK_WifiCreateAp(&secured), 0);
    EXPECT_EQ(board("/var/wifi/hostapd.conf"),
              "interface=wlan0\ndriver=nl80211\nssid=Cam \"1\" ;id\nhw_mode=g\nchannel=6\n"
              "ignore_broadcast_ssid=0\nwpa=2\nwpa_passphrase=pass=word 1\nwpa_key_mgmt=WPA-PSK\n"
              "wpa_pairwise=CCMP\nrsn_pairwise=CCMP\n");
    EXPECT_EQ(board("/var/wifi/udhcpd.conf"),
              "start\t\t192.168.5.20\nend\t\t192.168.5.254\ninterface=wlan0\n"
              "opt\tdns\t192.168.5.1\nopt\trouter\t192.168.5.1\n");
    const std::string d = dir();
    EXPECT_EQ(commands(), std::vector<std::string>(
                              {"ifconfig wlan0 192.168.5.1 netmask 255.255.255.0",
                               "route add -net 192.168.5.0 netmask 255.255.255.0 dev wlan0",
                               tools_ + "/hostapd " + d + "/var/wifi/hostapd.conf -B",
                               "udhcpd -fS " + d + "/var/wifi/udhcpd.conf &",
                               "dnsd -c " + d + "/etc/dnsd.conf&"}));
    EXPECT_NE(g_WifiState.g_ApStartMs, 0);

    WifiApParam open = ap("Open", "", 11, "");
    EXPECT_EQ(ZQSDK_WifiCreateAp(&open), 0);
    EXPECT_EQ(board("/var/wifi/hostapd.conf"),
              "interface=wlan0\ndriver=nl80211\nssid=Open\nhw_mode=g\nchannel=11\n"
              "ignore_broadcast_ssid=0\n");
    EXPECT_EQ(commands()[0], "ifconfig wlan0 192.168.10.1 netmask 255.255.255.0");
    write_board_file(dir(), "/usr/wifi/hostapd.status", "1");
    capture_output([&] { EXPECT_EQ(ZQSDK_WifiCreateAp(&open), -1); });
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
                                    ap("ok", "", 14, ""),
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
    EXPECT_FALSE(std::filesystem::exists(host("/var/wifi/hostapd.conf")));
}

TEST_F(WifiTest, StationFlowFollowsTheFilesOnARunningClock) {
    init();
    ASSERT_TRUE(sim::set_clock_speed(dir(), 1000));
    const std::string state = "echo 9 > \"$ZQ_VBOARD/var/tmp/wpa_state\"\n";
    const std::string marker = "echo 1 > \"$ZQ_VBOARD/var/ipisconfig\"\n";
    const std::string failure =
        "echo 'wlan0: WPA: 4-Way Handshake failed - pre-shared key may be incorrect' >> "
        "\"$ZQ_VBOARD/var/tmp/wpa_log\"\n";
    struct Row {
        std::string script;
        int result;
    } rows[] = {{state + marker, 0}, {state, -1}, {marker, 0}, {failure + failure, -2}};
    for (const Row &row : rows) {
        write_board_file(dir(), "/usr/wifi/wpa_supplicant.do", row.script);
        EXPECT_EQ(ZQSDK_WifiConnectSTA("Home", "pass-word-1"), row.result) << row.script;
        EXPECT_EQ(g_WifiState.g_StaConnecting.load() | g_WifiState.g_StaAbort.load(), 0);
    }
    EXPECT_NE(board("/var/wifi/wpa.conf").find("\tssid=\"Home\"\n\tpsk=\"pass-word-1\"\n"),
              std::string::npos);
    const std::string d = dir();
    std::vector<std::string> run = commands();
    EXPECT_NE(std::find(run.begin(), run.end(),
                        tools_ + "/wpa_supplicant -iwlan0 -Dnl80211 -f " + d +
                            "/var/tmp/wpa_log -c " + d + "/var/wifi/wpa.conf -B"),
              run.end());
    EXPECT_NE(
        std::find(run.begin(), run.end(),
                  "udhcpc -i wlan0 -s " + tools_ + "/udhcpc.script >" + d + "/var/tmp/udhcpc_log&"),
        run.end());

    write_board_file(dir(), "/usr/wifi/wpa_supplicant.do", state + marker);
    EXPECT_EQ(ZQSDK_WifiConnectSTA("Cafe", nullptr), 0);
    EXPECT_EQ(board("/var/wifi/wpa.conf"),
              "ctrl_interface=/var/run/wpa_supplicant\nnetwork={\n\tssid=\"Cafe\"\n"
              "\tkey_mgmt=NONE\n}\n");
    write_board_file(
        dir(), "/usr/wifi/link.out",
        "Connected to 02:00:00:00:00:01 (on wlan0)\n\tSSID: Cafe\n\tsignal: -60 dBm\n");
    WifiInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(ZQSDK_WifiGetLocalInfo(&info), 0);
    EXPECT_STREQ(info.szSsid, "Cafe");
    EXPECT_STREQ(info.szPsk, "");
    EXPECT_EQ(info.s32Quality, 69);
    EXPECT_EQ(info.bOpen, 1);
}

TEST_F(WifiTest, ExitAbandonsAWaitingConnectionFromAnotherThread) {
    init();
    ASSERT_TRUE(sim::set_clock_speed(dir(), 20));
    write_board_file(dir(), "/usr/wifi/wpa_supplicant.do", "");  // never associates
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
}

TEST_F(WifiTest, ScansReadTheToolsPipeline) {
    init();
    write_board_file(dir(), "/usr/wifi/scan.out",
                     "BSS 02:00:00:00:00:01(on wlan0)\n\tsignal: -45.00 dBm\n\tSSID: Near\n"
                     "\t\t * primary channel: 1\n\tRSN:\t * Version: 1\n"
                     "BSS 02:00:00:00:00:02(on wlan0)\n\tsignal: -75.00 dBm\n\tSSID: Far\\x21\n"
                     "\t\t * primary channel: 6\n\t\t * OBSS Scan Activity: 3\n");
    WifiInfo infos[4];
    WifiList list{4, infos};
    EXPECT_EQ(ZQSDK_WifiGetList(&list), 2);
    EXPECT_STREQ(infos[1].szSsid, "Far!");
    WifiInfo one;
    EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("Far!", &one), 0);
    EXPECT_EQ(one.s32Quality, 50);
}

}  // namespace
