// The board's Wi-Fi: board.json "wifi" (the radio's networks, the PHY, what
// the running tools set up), the tool directory "/usr/wifi" with its
// programs and templates, and the network tools of "/bin".
#include <json-c/json.h>

#include <filesystem>

#include "board_parts.h"
#include "board_tools.h"
#include "file_util.h"
#include "json_util.h"

namespace zq::sim {
namespace {

namespace fs = std::filesystem;

// The access point's configuration. "wpa" comes before the other wpa_
// lines, which the Wi-Fi module drops by that key for an open network.
constexpr const char *kHostapdConf =
    "# Access point of the camera (hostapd). The Wi-Fi module sets interface,\n"
    "# ssid, channel and the WPA lines in its working copy.\n"
    "interface=wlan0\n"
    "driver=nl80211\n"
    "ctrl_interface=/var/run/hostapd\n"
    "ctrl_interface_group=0\n"
    "ssid=ZQ-Camera\n"
    "country_code=US\n"
    "hw_mode=g\n"
    "channel=6\n"
    "beacon_int=100\n"
    "dtim_period=2\n"
    "max_num_sta=8\n"
    "macaddr_acl=0\n"
    "auth_algs=1\n"
    "ignore_broadcast_ssid=0\n"
    "wmm_enabled=1\n"
    "ieee80211n=1\n"
    "wpa=2\n"
    "wpa_passphrase=zq-camera-setup\n"
    "wpa_key_mgmt=WPA-PSK\n"
    "wpa_pairwise=CCMP\n"
    "rsn_pairwise=CCMP\n";

// The station's configuration: one network block, tab-indented keys.
constexpr const char *kWpaConf =
    "# Station configuration of the camera (wpa_supplicant). The Wi-Fi module\n"
    "# sets ssid and psk, or key_mgmt=NONE for an open network.\n"
    "ctrl_interface=/var/run/wpa_supplicant\n"
    "update_config=1\n"
    "ap_scan=1\n"
    "\n"
    "network={\n"
    "\tscan_ssid=1\n"
    "\tssid=\"ZQ-Camera\"\n"
    "\tpsk=\"zq-camera-setup\"\n"
    "\tkey_mgmt=WPA-PSK\n"
    "\tpairwise=CCMP TKIP\n"
    "\tgroup=CCMP TKIP\n"
    "}\n";

// The access point's DHCP server (busybox udhcpd): keyword, tabs, value.
// "interface=" is how the Wi-Fi module rewrites it.
constexpr const char *kUdhcpdConf =
    "# DHCP server of the camera's access point (udhcpd). The Wi-Fi module sets\n"
    "# interface, start, end, dns and router in its working copy.\n"
    "start\t\t192.168.10.20\n"
    "end\t\t192.168.10.254\n"
    "interface=wlan0\n"
    "max_leases\t64\n"
    "lease_file\t/var/wifi/udhcpd.leases\n"
    "opt\tdns\t192.168.10.1\n"
    "opt\trouter\t192.168.10.1\n"
    "opt\tsubnet\t255.255.255.0\n"
    "opt\tlease\t86400\n";

// The DHCP client's event script: configures the interface and the default
// route from the lease and marks the address configured. ZQ_VBOARD is empty
// on a board, so the files are the board's own.
constexpr const char *kUdhcpcScript =
    "#!/bin/sh\n"
    "# udhcpc event script of the Wi-Fi module: the lease configures the\n"
    "# interface and its default route; /var/ipisconfig says 1 once it has.\n"
    "[ -z \"$1\" ] && echo \"Error: should be called from udhcpc\" && exit 1\n"
    "\n"
    "MARKER=\"${ZQ_VBOARD}/var/ipisconfig\"\n"
    "RESOLV_CONF=\"${ZQ_VBOARD}/etc/resolv.conf\"\n"
    "[ -n \"$subnet\" ] && NETMASK=\"netmask $subnet\"\n"
    "[ -n \"$broadcast\" ] && BROADCAST=\"broadcast $broadcast\"\n"
    "\n"
    "case \"$1\" in\n"
    "    deconfig)\n"
    "        ifconfig \"$interface\" 0.0.0.0\n"
    "        echo 0 > \"$MARKER\"\n"
    "        ;;\n"
    "    renew|bound)\n"
    "        ifconfig \"$interface\" \"$ip\" $NETMASK $BROADCAST\n"
    "        if [ -n \"$router\" ]; then\n"
    "            while route del default gw 0.0.0.0 dev \"$interface\" 2>/dev/null; do\n"
    "                :\n"
    "            done\n"
    "            for gw in $router; do\n"
    "                route add default gw \"$gw\" dev \"$interface\"\n"
    "            done\n"
    "        fi\n"
    "        : > \"$RESOLV_CONF\"\n"
    "        [ -n \"$domain\" ] && echo \"search $domain\" >> \"$RESOLV_CONF\"\n"
    "        for server in $dns; do\n"
    "            echo \"nameserver $server\" >> \"$RESOLV_CONF\"\n"
    "        done\n"
    "        echo 1 > \"$MARKER\"\n"
    "        ;;\n"
    "esac\n"
    "exit 0\n";

// The DNS responder's names (busybox dnsd): name, white space, address.
constexpr const char *kDnsdConf = "zq-camera 192.168.10.1\ncamera.setup 192.168.10.1\n";

// The tools the board fakes and where their wrappers go.
const char *const kToolDirTools[] = {"iw", "wpa_supplicant", "hostapd"};
const char *const kBinTools[] = {"iw",     "wpa_supplicant", "hostapd", "udhcpc",
                                 "udhcpd", "dnsd",           "route"};
// Network tools the board does not fake: without a refusing stub in bin/
// the host's own would run.
const char *const kRefusedTools[] = {
    "ip",      "iwconfig",       "iwlist",      "iwpriv",    "iwspy",    "iwgetid", "iwevent",
    "wpa_cli", "wpa_passphrase", "hostapd_cli", "brctl",     "dhclient", "dhcpcd",  "dnsmasq",
    "nmcli",   "ethtool",        "iptables",    "ip6tables", "nft",      "tc",      "arp",
    "ifup",    "ifdown",         "rfkill",      "vconfig",   "udhcpc6",  "pump",    "netstat",
};

void wifi_defaults(json_object *root) {
    json_object *wifi = json_member(root, "wifi", json_type_object);
    json_object *phy = json_object_new_object();
    json_object_object_add(phy, "index", json_object_new_int(0));
    json_object_object_add(phy, "mac", json_object_new_string("02:5a:51:3e:08:20"));
    json_object *phys = json_object_new_array();
    json_object_array_add(phys, phy);
    json_object_object_add(wifi, "phys", phys);
    json_object_object_add(wifi, "networks", json_object_new_array());
    json_object_object_add(wifi, "running", json_object_new_array());
}

bool wifi_create(const std::string &dir, json_object *, std::string *error) {
    std::error_code ec;
    for (const char *sub : {"usr/wifi", "bin", "sbin", "etc", "usr/share/udhcpc", "var/run",
                            "var/lib/misc", "var/log"})
        fs::create_directories(dir + "/" + sub, ec);
    const std::string wifi = dir + "/usr/wifi/";
    // The Wi-Fi module replaces the board's /dev/random by a link to /dev/urandom.
    bool ok =
        make_node(dir, "/dev/random", error) && make_node(dir, "/dev/urandom", error) &&
        write_file_whole(wifi + "hostapd.conf", kHostapdConf, 0644, error) &&
        write_file_whole(wifi + "wpa_wpa2.conf", kWpaConf, 0644, error) &&
        write_file_whole(wifi + "udhcpd.conf", kUdhcpdConf, 0644, error) &&
        write_file_whole(wifi + "udhcpc.script", kUdhcpcScript, 0755, error) &&
        write_file_whole(dir + "/usr/share/udhcpc/default.script", kUdhcpcScript, 0755, error) &&
        write_file_whole(dir + "/etc/dnsd.conf", kDnsdConf, 0644, error) &&
        write_file_whole(dir + "/sbin/dnsd", board_tool_script("dnsd"), 0755, error);
    for (const char *tool : kToolDirTools)
        ok = ok && write_file_whole(wifi + tool, board_tool_script(tool), 0755, error);
    for (const char *tool : kBinTools)
        ok = ok && write_file_whole(dir + "/bin/" + tool, board_tool_script(tool), 0755, error);
    for (const char *tool : kRefusedTools)
        ok = ok && write_file_whole(dir + "/bin/" + tool, refusing_tool_script(tool), 0755, error);
    return ok;
}

}  // namespace

extern const BoardPart kWifiPart;
const BoardPart kWifiPart = {"wifi", wifi_defaults, wifi_create, nullptr};

}  // namespace zq::sim
