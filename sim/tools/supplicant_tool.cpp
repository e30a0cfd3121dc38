// wpa_supplicant: takes from its configuration the networks it may join and
// its control directory (the real parser judges the files: the tests feed
// it the ones the Wi-Fi module makes), then joins the virtual radio's
// network on the board clock, logging what the real one logs. Like the
// real one it writes no station state: what its control interface would
// tell (wpa_cli reads it) is its record in board.json.
#include <cstdio>
#include <sstream>

#include "board/wifi_radio.h"
#include "tools/tool.h"

namespace zq::sim::tools {
namespace {

// Board seconds: a scan, the steps of a join, the pause before a retry.
constexpr double kScan = 1.0, kStep = 0.2, kHandshake = 0.5, kRetry = 3.0, kAuthTimeout = 2.0;

struct NetworkBlock {
    int id = 0;
    std::string ssid, passphrase, idStr, keyMgmt = "WPA-PSK WPA-EAP";
};

// The SSID as the supplicant writes it in its messages.
std::string ssid_text(const std::string &ssid) {
    std::string out;
    for (unsigned char c : ssid) {
        if (c == '"' || c == '\\') out += '\\';
        out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : escape_byte(c);
    }
    return out;
}

// A string value: "quoted" up to the last quote; else as it is (a 64-hex
// psk then is no passphrase of the radio).
std::string unquoted(const std::string &value) {
    return value.size() >= 2 && value[0] == '"' && value.back() == '"'
               ? value.substr(1, value.size() - 2)
               : value;
}

// The network blocks and the control directory of a configuration, read
// as the real reader cuts lines: indentation, and comments outside quotes, go.
void read_config(const std::string &text, std::vector<NetworkBlock> *blocks,
                 std::string *controlDir) {
    NetworkBlock *block = nullptr;
    for (std::string line : lines_of(text)) {
        bool quoted = false;
        for (size_t k = 0; k < line.size(); ++k) {
            if (line[k] == '"') quoted = !quoted;
            if (line[k] == '#' && !quoted) line.resize(k);
        }
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (line == "network={") {
            block = &blocks->emplace_back();
            block->id = static_cast<int>(blocks->size()) - 1;
            continue;
        }
        if (line == "}") block = nullptr;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name = line.substr(0, eq), value = line.substr(eq + 1);
        if (!block && name == "ctrl_interface") {
            // "DIR=/var/run/wpa_supplicant GROUP=0" or the directory alone.
            if (value.rfind("DIR=", 0) == 0) value = value.substr(4);
            *controlDir = value.substr(0, value.find_first_of(" \t"));
        }
        if (!block) continue;
        if (name == "ssid") block->ssid = unquoted(value);
        if (name == "psk") block->passphrase = unquoted(value);
        if (name == "key_mgmt") block->keyMgmt = value;
        if (name == "id_str") block->idStr = unquoted(value);
    }
}

// A radio network this block may join: the right SSID and security that matches.
bool matches(const NetworkBlock &b, const RadioNetwork &n) {
    if (n.ssid != b.ssid) return false;
    std::istringstream words(b.keyMgmt);
    for (std::string w; words >> w;)
        if (n.passphrase.empty() ? w == "NONE" : w == "WPA-PSK" || w == "SAE") return true;
    return false;
}

struct Station {
    Tool &tool;
    std::string interface, config{}, logFile{};  // -i; -c, -f as host paths (no -f: stdout)
    std::vector<NetworkBlock> blocks{};
    std::string controlDir{};  // board path; empty: no control interface
    int failures = 0;

    void log(const std::string &text, bool ofInterface = true) const {
        std::string line = (ofInterface ? interface + ": " : "") + text + "\n";
        if (!logFile.empty()) {
            append_text(logFile, line);
        } else {
            std::fputs(line.c_str(), stdout);
            std::fflush(stdout);
        }
    }

    void set_record(const RadioNetwork *n = nullptr, const NetworkBlock *b = nullptr) {
        std::map<std::string, std::string> fields = {{"config", board_terms(tool, config)},
                                                     {"ctrl_interface", controlDir},
                                                     {"state", n ? "completed" : "disconnected"}};
        if (n) {
            char signal[32];
            std::snprintf(signal, sizeof signal, "%.2f", n->signal);
            fields.insert({{"bssid", n->bssid},
                           {"ssid", escape_bytes(n->ssid)},
                           {"channel", std::to_string(n->channel)},
                           {"freq", std::to_string(channel_frequency(n->channel))},
                           {"signal", signal},
                           {"id", std::to_string(b->id)},
                           {"id_str", b->idStr}});
        }
        record(tool, interface, fields);
    }

    // The strongest network some block may join, with its block.
    const NetworkBlock *pick(RadioNetwork *found) {
        const NetworkBlock *block = nullptr;
        for (const RadioNetwork &n : radio_networks(tool.dir))
            for (const NetworkBlock &b : blocks)
                if (matches(b, n) && (!block || n.signal > found->signal)) {
                    *found = n;
                    block = &b;
                }
        return block;
    }

    // A failed attempt: its messages, then the pause before the next.
    bool failed(const std::vector<std::string> &messages) {
        for (const std::string &m : messages) log(m);
        return board_wait(tool, kRetry);
    }

    // One attempt to join; false when the board is gone.
    bool attempt() {
        if (!board_wait(tool, kScan)) return false;
        RadioNetwork n;
        const NetworkBlock *b = pick(&n);
        if (!b) return failed({"CTRL-EVENT-NETWORK-NOT-FOUND"});
        std::string with = n.bssid + " (SSID='" + ssid_text(n.ssid) +
                           "' freq=" + std::to_string(channel_frequency(n.channel)) + " MHz)";
        log("SME: Trying to authenticate with " + with);
        if (n.join == "never")
            return board_wait(tool, kAuthTimeout) &&
                   failed({"SME: Authentication timed out",
                           "CTRL-EVENT-DISCONNECTED bssid=" + n.bssid +
                               " reason=3 locally_generated=1"});
        if (!board_wait(tool, kStep)) return false;
        log("Trying to associate with " + with);
        if (!board_wait(tool, kStep)) return false;
        log("Associated with " + n.bssid);
        log("CTRL-EVENT-SUBNET-STATUS-UPDATE status=0");
        if (!n.passphrase.empty()) {
            if (!board_wait(tool, kHandshake)) return false;
            if (n.join == "handshake-fail" || b->passphrase != n.passphrase) {
                note(tool, "%s handshake with %s failed", interface.c_str(), n.bssid.c_str());
                return failed({"WPA: 4-Way Handshake failed - pre-shared key may be incorrect",
                               "CTRL-EVENT-SSID-TEMP-DISABLED id=" + std::to_string(b->id) +
                                   " ssid=\"" + ssid_text(n.ssid) + "\" auth_failures=" +
                                   std::to_string(++failures) + " duration=10 reason=WRONG_KEY",
                               "CTRL-EVENT-DISCONNECTED bssid=" + n.bssid + " reason=15"});
            }
            log("WPA: Key negotiation completed with " + n.bssid + " [PTK=CCMP GTK=CCMP]");
        }
        // Complete for the control interface before the event says so.
        set_record(&n, b);
        log("CTRL-EVENT-CONNECTED - Connection to " + n.bssid +
            " completed [id=" + std::to_string(b->id) + " id_str=" + b->idStr + "]");
        note(tool, "%s associated with %s (SSID '%s')", interface.c_str(), n.bssid.c_str(),
             escape_bytes(n.ssid).c_str());
        // Connected while the network is on the air.
        for (;;) {
            bool heard = false;
            for (const RadioNetwork &h : radio_networks(tool.dir)) heard |= h.bssid == n.bssid;
            if (!heard) break;
            if (!board_wait(tool, 1.0)) return false;
        }
        log("CTRL-EVENT-DISCONNECTED bssid=" + n.bssid + " reason=4 locally_generated=0");
        set_record();
        return true;
    }
};

}  // namespace

constexpr const char *kUsage =
    "usage:\n  wpa_supplicant [-BddhKLqqtvW] [-P<pid file>] [-f<debug file>] -i<ifname> "
    "-c<config file> [-D<driver>]";

// "wpa_supplicant -iIF -cCONF [-B] [-f LOG] ...": the other options are
// taken and have no effect.
int wpa_supplicant_main(Tool &tool) {
    Options o;
    if (!parse_options(tool, "bcCDefgGiImoOpP", "BdhKLqstTuvW", 0, kUsage, &o)) return 255;
    if (!o.has('i') || !o.has('c')) {
        std::fprintf(stderr, "%s\n", kUsage);
        return 255;
    }
    Station station{tool, o.get('i')};
    std::string text;
    if ((o.has('f') && !path_argument(tool, o.get('f'), &station.logFile)) ||
        !path_argument(tool, o.get('c'), &station.config))
        return 255;
    station.log("Successfully initialized wpa_supplicant", false);
    if (!read_text(station.config, &text)) {
        station.log("Failed to read or parse configuration '" + station.config + "'.", false);
        return 255;
    }
    read_config(text, &station.blocks, &station.controlDir);
    NetInterface i;
    if (!find_interface(tool, station.interface, &i) || !i.wireless || i.monitor) {
        station.log("Could not read interface " + station.interface + " flags: No such device",
                    false);
        station.log("Failed to initialize driver interface");
        return 255;
    }
    // Set up before a -B command returns, as the real one forks once its
    // control interface is there: its interface up, its record.
    if (start(tool, o.has('B'), [&] {
            change_interface(tool, station.interface, [](NetInterface &n) { n.up = true; });
            station.set_record();
        }))
        return 0;
    while (station.attempt()) {
    }
    return 0;
}

}  // namespace zq::sim::tools
