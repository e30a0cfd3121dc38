// Wi-Fi on mac80211_hwsim with Debian's hostapd, wpa_supplicant, wpa_cli
// and iw and busybox's DHCP tools. The SDK drives wlan0 in the root
// namespace; the peer (an access point or a station) runs on wlan1, moved
// into a network namespace of its own so that the traffic crosses the
// simulated air. The peer's daemons carry other names (peer_ap, peer_sta,
// busybox): the camera's killers walk /proc, which shows every namespace's
// processes, and rightly take any "hostapd" or "udhcpd" for their own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel_support.h"
#include "zq_net.h"
#include "zq_wifi.h"

namespace {

const char *const kPeer = "/tmp/peer";

class WifiKernelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kb::sh(std::string("rm -rf ") + kPeer + " && mkdir -p " + kPeer);
        // The namespace lives as long as its sleeper.
        m_Peer = kb::sh("unshare -n sleep 100000 >/dev/null 2>&1 & echo $!").out;
        m_Peer = m_Peer.substr(0, m_Peer.find('\n'));
        kb::sh("sleep 0.3");
        ASSERT_TRUE(kb::ran("iw phy phy1 set netns " + m_Peer));
        ASSERT_TRUE(kb::ran(peer("ip link set lo up && ip link set wlan1 up")));
    }
    void TearDown() override {
        ZQSDK_WifiExit();
        kb::sh(std::string("for f in ") + kPeer +
               "/*.pid; do [ -f $f ] && kill $(cat $f); done 2>/dev/null;"
               " kill $(pidof peer_ap peer_sta) " +
               m_Peer + " 2>/dev/null; sleep 0.5");
    }

    // command as the peer's namespace runs it.
    std::string peer(const std::string &command) const {
        return "nsenter -t " + m_Peer + " -n sh -c '" + command + "'";
    }
    kb::Run in_peer(const std::string &command) const { return kb::sh(peer(command) + " 2>&1"); }
    static void write(const std::string &name, const std::string &text) {
        FILE *file = std::fopen((std::string(kPeer) + "/" + name).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }

    // A WPA2 (or open, passphrase empty) access point on channel 6, 802.11n
    // or 802.11g only, 192.168.7.1, with busybox's udhcpd.
    void start_peer_ap(const std::string &ssid, const std::string &passphrase, bool ht = true) {
        std::string conf = "interface=wlan1\ndriver=nl80211\nssid=" + ssid +
                           "\nhw_mode=g\nchannel=6\nieee80211n=" + (ht ? "1" : "0") + "\n";
        if (!passphrase.empty())
            conf += "wpa=2\nwpa_passphrase=" + passphrase +
                    "\nwpa_key_mgmt=WPA-PSK\nrsn_pairwise=CCMP\n";
        write("ap.conf", conf);
        write("udhcpd.conf",
              "start 192.168.7.100\nend 192.168.7.120\ninterface wlan1\n"
              "option subnet 255.255.255.0\noption router 192.168.7.1\n"
              "lease_file /tmp/peer/leases\npidfile /tmp/peer/udhcpd.pid\n");
        ASSERT_TRUE(kb::ran(peer(
            "cp $(command -v hostapd) /tmp/peer/peer_ap && /tmp/peer/peer_ap -B /tmp/peer/ap.conf "
            "&& "
            "ip addr add 192.168.7.1/24 dev wlan1 && touch /tmp/peer/leases && "
            "busybox udhcpd /tmp/peer/udhcpd.conf")));
    }

    // A station on wlan1 joining ssid, leasing an address with busybox's
    // udhcpc; the address it got ("" when none).
    std::string join_as_peer(const std::string &ssid, const std::string &passphrase) {
        write("sta.conf",
              "ctrl_interface=/tmp/peer/sta-ctrl\nnetwork={\n\tssid=\"" + ssid + "\"\n" +
                  (passphrase.empty() ? "\tkey_mgmt=NONE\n" : "\tpsk=\"" + passphrase + "\"\n") +
                  "}\n");
        write("dhcp.sh",
              "#!/bin/sh\n[ \"$1\" = bound ] && ip addr add $ip/$mask dev $interface\nexit 0\n");
        const auto joined = in_peer(
            "chmod +x /tmp/peer/dhcp.sh && ip addr flush dev wlan1 && "
            "{ [ -x /tmp/peer/peer_sta ] || cp $(command -v wpa_supplicant) /tmp/peer/peer_sta; } "
            "&& "
            "/tmp/peer/peer_sta -B -P /tmp/peer/sta.pid -D nl80211 -i wlan1 -c /tmp/peer/sta.conf "
            ">/dev/null && "
            "busybox udhcpc -i wlan1 -n -q -t 30 -T 1 -s /tmp/peer/dhcp.sh >/dev/null 2>&1; "
            "ip -4 -o addr show dev wlan1 | awk \"{print \\$4}\"");
        return joined.out.substr(0, joined.out.find('\n'));
    }
    void stop_peer_station() {
        kb::sh(std::string("kill $(cat ") + kPeer + "/sta.pid) 2>/dev/null; sleep 0.5");
    }

    static void init() { ASSERT_EQ(ZQSDK_WifiInit("wlan0", "/usr/wifi", 1), 0); }
    // The programs of `names` still running, with their pids; empty when none.
    static std::string still_running(const std::vector<std::string> &names) {
        std::string found;
        for (const auto &name : names)
            if (std::string pids = kb::pids_named(name); !pids.empty())
                found += name + ": " + pids + "\n";
        return found;
    }
    // The station's programs ended with it: the killed ones at once, wpa_cli
    // at its next ping of the supplicant (one a second).
    static void expect_station_ended() {
        EXPECT_EQ(still_running({"wpa_supplicant", "udhcpc", "iw"}), "");
        EXPECT_TRUE(kb::wait_for([] { return kb::pids_named("wpa_cli").empty(); }, 5))
            << "wpa_cli outlived its supplicant";
    }
    std::string m_Peer;
};

TEST_F(WifiKernelTest, InitAndModesOnARealRadio) {
    EXPECT_EQ(ZQSDK_WifiInit("wlan7", "/usr/wifi", 1), -1) << "no such interface";
    init();
    EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MONITOR), 0);
    EXPECT_NE(kb::sh("iw dev wlan0 info").out.find("type monitor"), std::string::npos);
    EXPECT_EQ(ZQSDK_WifiSwitchChannel(11), 0);
    EXPECT_NE(kb::sh("iw dev wlan0 info").out.find("channel 11 "), std::string::npos);
    EXPECT_EQ(ZQSDK_WifiSwitchMode(WIFI_MODE_MANAGED), 0);
    EXPECT_NE(kb::sh("iw dev wlan0 info").out.find("type managed"), std::string::npos);
    EXPECT_EQ(ZQSDK_WifiExit(), 0);
}

// The camera as access point: a real station joins and leases an address
// from the udhcpd the SDK started, first with WPA2, then open.
TEST_F(WifiKernelTest, AccessPointServesARealStation) {
    init();
    struct Row {
        const char *ssid, *passphrase;
    } rows[] = {{"CamAP", "cam-pass-1"}, {"CamOpen", ""}};
    for (const Row &row : rows) {
        WifiApParam ap{};
        std::strcpy(ap.szSsid, row.ssid);
        std::strcpy(ap.szPasswd, row.passphrase);
        ap.s32Channel = 6;
        std::strcpy(ap.szIp, "192.168.5.1");
        ASSERT_EQ(ZQSDK_WifiCreateAp(&ap), 0) << row.ssid;
        const std::string address = join_as_peer(row.ssid, row.passphrase);
        EXPECT_EQ(address.rfind("192.168.5.", 0), 0u) << row.ssid << ": " << address;
        EXPECT_EQ(in_peer("ping -c 1 -W 3 192.168.5.1 >/dev/null").status, 0) << row.ssid;
        stop_peer_station();
    }
    EXPECT_EQ(ZQSDK_WifiExit(), 0);
    EXPECT_EQ(still_running({"hostapd", "udhcpd", "dnsd"}), "");
}

// The camera as station against a real access point: the scan lists it, the
// join gets the lease, and the link and the address are the real ones.
TEST_F(WifiKernelTest, StationJoinsARealAccessPoint) {
    start_peer_ap("PeerNet", "peer-pass-1");
    init();
    WifiInfo infos[8];
    WifiList list{8, infos};
    int found = -1;
    for (int scan = 0; scan < 3 && found < 0; ++scan) {
        const int count = ZQSDK_WifiGetList(&list);
        for (int i = 0; i < count; ++i)
            if (std::strcmp(infos[i].szSsid, "PeerNet") == 0) found = i;
    }
    ASSERT_GE(found, 0) << "the scan never listed the access point";
    EXPECT_EQ(infos[found].s32Channel, 6);
    EXPECT_EQ(infos[found].bOpen, 0);
    EXPECT_GT(infos[found].s32Quality, 0);
    WifiInfo bySsid;
    EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("PeerNet", &bySsid), 0);
    EXPECT_STREQ(bySsid.szBssid, infos[found].szBssid);

    ASSERT_EQ(ZQSDK_WifiConnectSTA("PeerNet", "peer-pass-1"), 0);
    EthAttr attr;
    EXPECT_EQ(ZQSDK_WifiGetEthAttr("wlan0", &attr), 0);
    EXPECT_EQ(std::string(attr.szIp).rfind("192.168.7.1", 0), 0u) << attr.szIp;
    EXPECT_STREQ(attr.szGateway, "192.168.7.1");
    WifiInfo link;
    EXPECT_EQ(ZQSDK_WifiGetLocalInfo(&link), 0);
    EXPECT_STREQ(link.szSsid, "PeerNet");
    EXPECT_GT(link.s32Quality, 0);
    EXPECT_EQ(kb::sh("ping -c 1 -W 3 192.168.7.1 >/dev/null").status, 0);

    EXPECT_EQ(ZQSDK_WifiExit(), 0);
    expect_station_ended();
}

// An 802.11g-only access point sends no HT operation element, so its scan
// block has no "primary channel" line and the scan does not list it; the
// join does not need the scan.
TEST_F(WifiKernelTest, StationJoinsALegacyAccessPointTheScanDoesNotList) {
    start_peer_ap("OldNet", "old-pass-1", false);
    init();
    // Heard by the SDK's own scan (its results stay with the kernel), not listed.
    bool heard = false;
    for (int scan = 0; scan < 3 && !heard; ++scan) {
        WifiInfo info;
        EXPECT_EQ(ZQSDK_WifiGetInfoBySsid("OldNet", &info), 0);
        EXPECT_STREQ(info.szSsid, "") << "listed";
        heard = kb::sh("iw dev wlan0 scan dump | grep -q 'SSID: OldNet'").status == 0;
    }
    EXPECT_TRUE(heard);
    ASSERT_EQ(ZQSDK_WifiConnectSTA("OldNet", "old-pass-1"), 0);
    EthAttr attr;
    EXPECT_EQ(ZQSDK_WifiGetEthAttr("wlan0", &attr), 0);
    EXPECT_STREQ(attr.szGateway, "192.168.7.1");
}

TEST_F(WifiKernelTest, StationWithAWrongPassphraseFails) {
    start_peer_ap("PeerNet", "peer-pass-1");
    init();
    EXPECT_EQ(ZQSDK_WifiConnectSTA("PeerNet", "wrong-pass-9"), -2);
}

TEST_F(WifiKernelTest, StationForAnAbsentNetworkFailsOrIsAbandoned) {
    init();
    EXPECT_EQ(ZQSDK_WifiConnectSTA("Nowhere", "some-pass-1"), -1);

    int result = 0;
    std::thread join([&] { result = ZQSDK_WifiConnectSTA("Nowhere", "some-pass-1"); });
    kb::sh("sleep 5");
    EXPECT_EQ(ZQSDK_WifiExit(), 0);
    join.join();
    EXPECT_EQ(result, 1);
    expect_station_ended();
}

}  // namespace
