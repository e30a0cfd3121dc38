// hostapd: reads its configuration's key=value lines (the real parser
// judges the files: the tests feed it the ones the Wi-Fi module makes; this
// one reports lines it cannot take as that one does), checks the channel
// against the hardware mode, and runs the access point as a board process
// whose record says what it serves.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "board/wifi_radio.h"
#include "tools/tool.h"

namespace zq::sim::tools {
namespace {

// The configuration items the board's hostapd takes (as is, unjudged).
const char kItems[] =
    " interface bridge driver ctrl_interface ctrl_interface_group ssid ssid2 utf8_ssid"
    " country_code ieee80211d ieee80211h hw_mode channel beacon_int dtim_period max_num_sta"
    " macaddr_acl auth_algs ignore_broadcast_ssid wmm_enabled ieee80211n ht_capab ieee80211w"
    " wpa wpa_passphrase wpa_psk_file wpa_key_mgmt wpa_pairwise rsn_pairwise wpa_group_rekey"
    " ap_isolate rts_threshold fragm_threshold logger_syslog logger_syslog_level logger_stdout"
    " logger_stdout_level vendor_elements wmm_ac_bk_cwmin eapol_key_index_workaround ";

bool read_config(const std::string &host, const std::string &shown,
                 std::map<std::string, std::string> *settings) {
    std::string text;
    if (!read_text(host, &text)) {
        std::printf("Could not open configuration file '%s' for reading.\n", shown.c_str());
        return false;
    }
    int errors = 0, line = 0;
    for (const std::string &buf : lines_of(text)) {
        ++line;
        if (buf.empty() || buf[0] == '#') continue;
        size_t eq = buf.find('=');
        std::string key = buf.substr(0, eq), value = buf.substr(eq + 1);
        if (eq == std::string::npos) {
            std::printf("Line %d: invalid line '%s'\n", line, buf.c_str());
        } else if (key.find(' ') != std::string::npos ||
                   !std::strstr(kItems, (" " + key + " ").c_str())) {
            std::printf("Line %d: unknown configuration item '%s'\n", line, key.c_str());
        } else if (key == "wpa_passphrase" && (value.size() < 8 || value.size() > 63)) {
            std::printf("Line %d: invalid WPA passphrase length %zu (expected 8..63)\n", line,
                        value.size());
        } else {
            (*settings)[key] = value;
            continue;
        }
        ++errors;
    }
    if (errors) std::printf("%d errors found in configuration file '%s'\n", errors, shown.c_str());
    return errors == 0;
}

}  // namespace

constexpr const char *kUsage = "usage: hostapd [-hdBKtv] [-P <PID file>] <configuration file(s)>";

// "hostapd [-B] [-dtKq...] CONFIG" (-P is taken and has no effect).
int hostapd_main(Tool &tool) {
    Options o;
    std::string configHost;
    if (!parse_options(tool, "P", "BdtKqhv", 1, kUsage, &o)) return 1;
    if (o.operands.empty()) {
        std::fprintf(stderr, "%s\n", kUsage);
        return 1;
    }
    const std::string &config = o.operands[0];
    std::map<std::string, std::string> s = {{"interface", "wlan0"}, {"hw_mode", "b"}, {"wpa", "0"}};
    if (!path_argument(tool, config, &configHost)) return 1;
    if (!read_config(configHost, config, &s)) {
        std::printf("Failed to set up interface with %s\nFailed to initialize interface\n",
                    config.c_str());
        return 1;
    }
    const std::string &ifname = s["interface"], &mode = s["hw_mode"], &ssid = s["ssid"];
    int channel = std::atoi(s["channel"].c_str());
    NetInterface i;
    bool noDevice = !find_interface(tool, ifname, &i) || !i.wireless;
    bool channelFits = mode == "a"     ? channel >= 32 && channel_frequency(channel)
                       : mode == "any" ? channel_frequency(channel) != 0
                                       : channel >= 1 && channel <= 14;
    if (noDevice || !channelFits) {
        if (noDevice)
            std::printf(
                "Could not read interface %s flags: No such device\n"
                "nl80211 driver initialization failed.\n",
                ifname.c_str());
        else
            std::printf(
                "%1$s: IEEE 802.11 Configured channel (%2$d) not found from the channel "
                "list of current mode\n%1$s: IEEE 802.11 Hardware does not support "
                "configured channel\nCould not select hw_mode and channel. (-3)\n",
                ifname.c_str(), channel);
        std::printf("%1$s: interface state UNINITIALIZED->DISABLED\n%1$s: AP-DISABLED \n",
                    ifname.c_str());
        return 1;
    }
    std::printf("Using interface %s with hwaddr %s and ssid \"%s\"\n", ifname.c_str(),
                i.mac.c_str(), escape_bytes(ssid).c_str());
    std::printf("%1$s: interface state UNINITIALIZED->ENABLED\n%1$s: AP-ENABLED \n",
                ifname.c_str());
    std::string passphrase = s["wpa"] != "0" ? s["wpa_passphrase"] : "";
    return serve(tool, o.has('B'), [&] {
        // An access point's interface is up and no longer a monitor.
        change_interface(tool, ifname, [](NetInterface &n) {
            n.up = true;
            n.monitor = false;
        });
        record(tool, ifname,
               {{"ssid", escape_bytes(ssid)},
                {"channel", std::to_string(channel)},
                {"hw_mode", mode},
                {"wpa", s["wpa"]},
                {"passphrase", passphrase},
                {"bssid", i.mac},
                {"config", board_terms(tool, configHost)}});
        note(tool, "access point on %s: SSID '%s' channel %d %s", ifname.c_str(),
             escape_bytes(ssid).c_str(), channel, passphrase.empty() ? "open" : "WPA2-PSK");
    });
}

}  // namespace zq::sim::tools
