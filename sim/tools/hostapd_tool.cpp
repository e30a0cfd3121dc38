// hostapd: reads its configuration as the real parser does (bad lines are
// reported and counted the same way), checks the channel against the
// hardware mode, and runs the access point as a board process whose record
// says what it serves.
#include <json-c/json.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "tools/tool.h"
#include "board/wifi_radio.h"
#include "board/wifi_records.h"

namespace zq::sim::tools {
namespace {

using Settings = std::map<std::string, std::string>;

bool number(const std::string &value, long low, long high) {
    char *end = nullptr;
    long n = std::strtol(value.c_str(), &end, 10);
    return !value.empty() && !*end && n >= low && n <= high;
}

bool tokens_in(const std::string &value, std::initializer_list<const char *> allowed) {
    std::istringstream in(value);
    int count = 0;
    for (std::string w; in >> w; ++count)
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char *a) { return w == a; }))
            return false;
    return count > 0;
}

// The complaint about one key=value line, empty when the line is good.
std::string check_item(const std::string &key, const std::string &value, int line) {
    std::string at = "Line " + std::to_string(line) + ": ";
    struct Numeric {
        const char *key;
        long low, high;
    };
    static const Numeric kNumeric[] = {
        {"beacon_int", 15, 65535},
        {"dtim_period", 1, 255},
        {"max_num_sta", 0, 2007},
        {"macaddr_acl", 0, 2},
        {"auth_algs", 1, 3},
        {"ignore_broadcast_ssid", 0, 2},
        {"wmm_enabled", 0, 1},
        {"ieee80211n", 0, 1},
        {"ieee80211d", 0, 1},
        {"ieee80211h", 0, 1},
        {"wpa", 0, 3},
        {"ctrl_interface_group", 0, 65535},
        {"logger_syslog", -1, 63},
        {"logger_syslog_level", 0, 4},
        {"logger_stdout", -1, 63},
        {"logger_stdout_level", 0, 4},
        {"rts_threshold", -1, 65535},
        {"fragm_threshold", -1, 2346},
        {"wpa_group_rekey", 0, 86400},
        {"ap_isolate", 0, 1},
        {"utf8_ssid", 0, 1},
        {"channel", 0, 200},
        {"ieee80211w", 0, 2},
        {"eapol_key_index_workaround", 0, 1},
    };
    for (const Numeric &n : kNumeric)
        if (key == n.key)
            return number(value, n.low, n.high) ? "" : at + "invalid " + key + " '" + value + "'";
    if (key == "interface" || key == "bridge")
        return value.size() < 16 ? "" : at + "invalid " + key + " '" + value + "'";
    if (key == "ssid")
        return !value.empty() && value.size() <= 32 ? "" : at + "invalid SSID '" + value + "'";
    if (key == "wpa_passphrase")
        return value.size() >= 8 && value.size() <= 63
                   ? ""
                   : at + "invalid WPA passphrase length " + std::to_string(value.size()) +
                         " (expected 8..63)";
    if (key == "hw_mode")
        return tokens_in(value, {"a", "b", "g", "ad", "any"})
                   ? ""
                   : at + "unknown hw_mode '" + value + "'";
    if (key == "driver")
        return tokens_in(value, {"nl80211", "wired", "none"})
                   ? ""
                   : at + "invalid/unknown driver '" + value + "'";
    if (key == "wpa_key_mgmt")
        return tokens_in(value, {"WPA-PSK", "WPA-EAP", "FT-PSK", "FT-EAP", "WPA-PSK-SHA256",
                                 "WPA-EAP-SHA256", "SAE", "FT-SAE", "OWE"})
                   ? ""
                   : at + "invalid key_mgmt '" + value + "'";
    if (key == "wpa_pairwise" || key == "rsn_pairwise")
        return tokens_in(value, {"CCMP", "TKIP", "GCMP", "CCMP-256", "GCMP-256"})
                   ? ""
                   : at + "invalid cipher '" + value + "'";
    if (key == "country_code")
        return value.size() == 2 && std::isupper(static_cast<unsigned char>(value[0])) &&
                       std::isupper(static_cast<unsigned char>(value[1]))
                   ? ""
                   : at + "invalid country_code '" + value + "'";
    static const char *const kFree[] = {"ctrl_interface", "ht_capab",        "wpa_psk_file",
                                        "ssid2",          "vendor_elements", "wmm_ac_bk_cwmin"};
    if (std::any_of(std::begin(kFree), std::end(kFree), [&](const char *k) { return key == k; }))
        return "";
    return at + "unknown configuration item '" + key + "'";
}

bool read_config(const std::string &host, const std::string &shown, Settings *settings) {
    std::string text;
    if (!read_text(host, &text)) {
        std::printf("Could not open configuration file '%s' for reading.\n", shown.c_str());
        return false;
    }
    std::istringstream in(text);
    int errors = 0, line = 0;
    for (std::string buf; std::getline(in, buf);) {
        ++line;
        if (buf.empty() || buf[0] == '#') continue;
        size_t eq = buf.find('=');
        if (eq == std::string::npos) {
            std::printf("Line %d: invalid line '%s'\n", line, buf.c_str());
            ++errors;
            continue;
        }
        std::string key = buf.substr(0, eq), value = buf.substr(eq + 1);
        std::string complaint = check_item(key, value, line);
        if (!complaint.empty()) {
            std::printf("%s\n", complaint.c_str());
            ++errors;
            continue;
        }
        (*settings)[key] = value;
    }
    auto get = [&](const char *k) { return settings->count(k) ? settings->at(k) : std::string(); };
    int wpa = std::atoi(get("wpa").c_str());
    std::string mgmt = get("wpa_key_mgmt").empty() ? "WPA-PSK" : get("wpa_key_mgmt");
    if (wpa && mgmt.find("PSK") != std::string::npos && get("wpa_passphrase").empty() &&
        get("wpa_psk_file").empty()) {
        std::printf("WPA-PSK enabled, but PSK or passphrase is not configured.\n");
        ++errors;
    }
    if (errors) std::printf("%d errors found in configuration file '%s'\n", errors, shown.c_str());
    return errors == 0;
}

bool channel_fits(const std::string &mode, int channel) {
    if (mode == "a") return channel >= 32 && channel <= 177 && channel_frequency(channel);
    if (mode == "any") return channel_frequency(channel) != 0;
    return channel >= 1 && channel <= 14;
}

}  // namespace

// "hostapd [-B] [-P pidfile] [-dd...] CONFIG..." (one configuration on the board).
int hostapd_main(Tool &tool) {
    bool background = false;
    std::string configGiven, pidGiven;
    for (size_t k = 0; k < tool.args.size(); ++k) {
        const std::string &a = tool.args[k];
        if (a == "-B")
            background = true;
        else if (a == "-P" && k + 1 < tool.args.size())
            pidGiven = tool.args[++k];
        else if (a == "-d" || a == "-dd" || a == "-t" || a == "-K" || a == "-q")
            continue;
        else if (!a.empty() && a[0] != '-' && configGiven.empty())
            configGiven = a;
        else {
            std::fprintf(stderr,
                         "usage: hostapd [-hdBKtv] [-P <PID file>] <configuration file(s)>\n");
            return 1;
        }
    }
    if (configGiven.empty()) {
        std::fprintf(stderr, "usage: hostapd [-hdBKtv] [-P <PID file>] <configuration file(s)>\n");
        return 1;
    }
    std::string configHost, pidHost;
    if (!path_argument(tool, configGiven, &configHost) ||
        (!pidGiven.empty() && !path_argument(tool, pidGiven, &pidHost)))
        return 1;
    Settings s;
    if (!read_config(configHost, configGiven, &s)) {
        std::printf("Failed to set up interface with %s\nFailed to initialize interface\n",
                    configGiven.c_str());
        return 1;
    }
    std::string ifname = s.count("interface") ? s["interface"] : "wlan0";
    std::string mode = s.count("hw_mode") ? s["hw_mode"] : "b";
    int channel = s.count("channel") ? std::atoi(s["channel"].c_str()) : 0;
    NetInterface i;
    if (!find_interface(tool, ifname, &i) || !i.wireless) {
        std::printf(
            "Could not read interface %s flags: No such device\n"
            "nl80211 driver initialization failed.\n"
            "%s: interface state UNINITIALIZED->DISABLED\n%s: AP-DISABLED \n",
            ifname.c_str(), ifname.c_str(), ifname.c_str());
        return 1;
    }
    if (!channel_fits(mode, channel)) {
        std::printf(
            "%s: IEEE 802.11 Configured channel (%d) not found from the channel list of "
            "current mode\n%s: IEEE 802.11 Hardware does not support configured channel\n"
            "Could not select hw_mode and channel. (-3)\n"
            "%s: interface state UNINITIALIZED->DISABLED\n%s: AP-DISABLED \n",
            ifname.c_str(), channel, ifname.c_str(), ifname.c_str(), ifname.c_str());
        return 1;
    }
    std::string ssid = s["ssid"];
    std::string shownSsid = escape_bytes(ssid);
    std::printf("Using interface %s with hwaddr %s and ssid \"%s\"\n", ifname.c_str(),
                i.mac.c_str(), shownSsid.c_str());
    std::printf("%s: interface state UNINITIALIZED->ENABLED\n%s: AP-ENABLED \n", ifname.c_str(),
                ifname.c_str());
    if (background && detach(tool)) return 0;
    if (!background) register_self(tool);
    if (!pidHost.empty()) write_text(pidHost, std::to_string(::getpid()) + "\n");
    ToolRecord r;
    r.tool = "hostapd";
    r.pid = ::getpid();
    r.interface = ifname;
    r.fields = {{"ssid", escape_bytes(ssid)},
                {"channel", std::to_string(channel)},
                {"hw_mode", mode},
                {"wpa", s.count("wpa") ? s["wpa"] : "0"},
                {"passphrase", s.count("wpa") && s["wpa"] != "0" ? s["wpa_passphrase"] : ""},
                {"bssid", i.mac},
                {"config", board_terms(tool, configHost)}};
    edit(tool, [&](json_object *root) {
        // An access point's interface is up and no longer a monitor.
        for (NetInterface &n : net_interfaces(root))
            if (n.name == ifname) {
                n.up = true;
                n.monitor = false;
                set_interface_json(root, n);
            }
        set_tool_record(root, tool.dir, r);
    });
    note(tool, "access point on %s: SSID '%s' channel %d %s", ifname.c_str(),
         escape_bytes(ssid).c_str(), channel, r.fields["passphrase"].empty() ? "open" : "WPA2-PSK");
    while (board_wait(tool, 1.0)) {
    }
    return 0;
}

}  // namespace zq::sim::tools
