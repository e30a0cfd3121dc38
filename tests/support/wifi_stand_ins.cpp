#include "support/wifi_stand_ins.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "net_board.h"

namespace {

const char *const kIw = R"(#!/bin/sh
here=$(dirname "$0")
case "$*" in
  *" scan") cat "$here/scan.out" 2>/dev/null ;;
  *" link") cat "$here/link.out" 2>/dev/null ;;
  *" type monitor") cp "$here/ifconfig.monitor" "$ZQ_VBOARD/bin/ifconfig" ;;
  *" type managed") cp "$here/ifconfig.managed" "$ZQ_VBOARD/bin/ifconfig" ;;
esac
exit 0
)";
const char *const kSupplicant =
    "#!/bin/sh\nhere=$(dirname \"$0\")\n[ -f \"$here/wpa_supplicant.do\" ] && . "
    "\"$here/wpa_supplicant.do\"\nexit 0\n";
const char *const kHostapd =
    "#!/bin/sh\nexit $(cat \"$(dirname \"$0\")/hostapd.status\" 2>/dev/null || echo 0)\n";
const char *const kQuiet = "#!/bin/sh\nexit 0\n";

const char *const kHostapdConf =
    "# access point template\ninterface=wlan0\ndriver=nl80211\nssid=template\nhw_mode=g\n"
    "channel=1\nignore_broadcast_ssid=0\nwpa=2\nwpa_passphrase=template-pass\n"
    "wpa_key_mgmt=WPA-PSK\nwpa_pairwise=CCMP\nrsn_pairwise=CCMP\n";
const char *const kWpaConf =
    "ctrl_interface=/var/run/wpa_supplicant\n# station template\nnetwork={\n\tscan_ssid=1\n"
    "\tssid=\"template\"\n\tpsk=\"template-pass\"\n\tkey_mgmt=WPA-PSK\n\tpairwise=CCMP TKIP\n"
    "\tgroup=CCMP TKIP\n}\n";
const char *const kUdhcpdConf =
    "start\t\t192.168.10.20\nend\t\t192.168.10.254\ninterface=wlan0\nopt\tdns\t192.168.10.1\n"
    "opt\trouter\t192.168.10.1\n";

void write_tool(const std::string &dir, const std::string &boardPath, const std::string &text) {
    write_board_file(dir, boardPath, text);
    ::chmod((dir + boardPath).c_str(), 0755);
}

}  // namespace

void write_board_file(const std::string &dir, const std::string &boardPath,
                      const std::string &text) {
    std::filesystem::create_directories(std::filesystem::path(dir + boardPath).parent_path());
    std::ofstream(dir + boardPath, std::ios::binary | std::ios::trunc) << text;
}

void install_wifi_stand_ins(const std::string &dir) {
    zq::sim::NetInterface wlan;
    wlan.name = "wlan0";
    wlan.mac = "02:5a:51:00:00:07";
    wlan.up = false;
    wlan.wireless = true;
    std::filesystem::create_directories(dir + "/usr/wifi");
    for (bool monitor : {true, false}) {
        wlan.monitor = monitor;
        zq::sim::set_interface(dir, wlan);
        std::filesystem::copy_file(
            dir + "/bin/ifconfig",
            dir + (monitor ? "/usr/wifi/ifconfig.monitor" : "/usr/wifi/ifconfig.managed"),
            std::filesystem::copy_options::overwrite_existing);
    }
    write_board_file(dir, "/sys/class/net/wlan0/phy80211/index", "0\n");
    write_tool(dir, "/usr/wifi/iw", kIw);
    write_tool(dir, "/usr/wifi/wpa_supplicant", kSupplicant);
    write_tool(dir, "/usr/wifi/hostapd", kHostapd);
    write_tool(dir, "/usr/wifi/udhcpc.script", kQuiet);
    write_board_file(dir, "/usr/wifi/hostapd.conf", kHostapdConf);
    write_board_file(dir, "/usr/wifi/wpa_wpa2.conf", kWpaConf);
    write_board_file(dir, "/usr/wifi/udhcpd.conf", kUdhcpdConf);
    for (const char *tool : {"/bin/route", "/bin/udhcpc", "/bin/udhcpd", "/bin/dnsd"})
        write_tool(dir, tool, kQuiet);
}
