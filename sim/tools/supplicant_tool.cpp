// wpa_supplicant: reads its configuration as the real parser does (and
// reports bad lines the same way), then joins the virtual radio's network on
// the board clock, logging what the real one logs. Like the real one it
// writes no station state: what its control interface would tell (wpa_cli
// reads it) is its record in board.json, with the control directory the
// configuration names.
#include <json-c/json.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "emul/board.h"
#include "tools/tool.h"
#include "board/wifi_radio.h"
#include "board/wifi_records.h"

namespace zq::sim::tools {
namespace {

// Board seconds: a scan, the steps of a join, the pause before a retry.
constexpr double kScan = 1.0, kStep = 0.2, kHandshake = 0.5, kRetry = 3.0, kAuthTimeout = 2.0;

struct Options {
    std::string interface, driver, config, logFile, pidFile;
    bool background = false, timestamps = false;
};

struct NetworkBlock {
    int id = 0;
    std::string ssid, passphrase, psk, bssid, idStr;
    std::vector<std::string> keyMgmt{"WPA-PSK", "WPA-EAP"};
    bool disabled = false;
};

// Where the supplicant's messages go: the -f file, else standard output.
struct Log {
    std::string file;
    bool timestamps = false;
    void line(const std::string &text) const {
        std::string out;
        if (timestamps) {
            struct timespec now {};
            clock_read(CLOCK_REALTIME, &now);
            char stamp[40];
            std::snprintf(stamp, sizeof stamp, "%lld.%06ld: ", static_cast<long long>(now.tv_sec),
                          now.tv_nsec / 1000);
            out = stamp;
        }
        out += text + "\n";
        if (file.empty()) {
            std::fputs(out.c_str(), stdout);
            std::fflush(stdout);
        } else {
            write_text(file, out, true);
        }
    }
};

// The SSID as the supplicant writes it in its messages.
std::string ssid_text(const std::string &ssid) {
    std::string out;
    for (unsigned char c : ssid) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += escape_byte(c);
        }
    }
    return out;
}

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

bool all_in(const std::vector<std::string> &values, std::initializer_list<const char *> allowed) {
    if (values.empty()) return false;
    return std::all_of(values.begin(), values.end(), [&](const std::string &v) {
        return std::any_of(allowed.begin(), allowed.end(), [&](const char *a) { return v == a; });
    });
}

bool hex_text(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// A string value: "quoted" (up to the last quote), hex bytes, or P"escaped".
bool string_value(const std::string &value, std::string *out) {
    if (value.size() >= 2 && value[0] == '"' && value.back() == '"') {
        *out = value.substr(1, value.size() - 2);
        return true;
    }
    if (value.size() >= 3 && value[0] == 'P' && value[1] == '"' && value.back() == '"') {
        std::string text = value.substr(2, value.size() - 3), bytes;
        std::string error;
        return unescape_bytes(text, out, &error);
    }
    if (value.size() % 2 || !hex_text(value)) return false;
    out->clear();
    for (size_t k = 0; k < value.size(); k += 2)
        *out += static_cast<char>(std::strtol(value.substr(k, 2).c_str(), nullptr, 16));
    return true;
}

// Sets one field of a network block; an empty result, else the complaint.
std::string network_field(NetworkBlock &n, const std::string &name, const std::string &value,
                          int line) {
    auto bad = [&]() {
        return "Line " + std::to_string(line) + ": failed to parse " + name + " '" + value + "'.";
    };
    std::string text;
    if (name == "ssid") {
        if (!string_value(value, &text)) return bad();
        if (text.size() > 32)
            return "Line " + std::to_string(line) +
                   ": too long ssid (len=" + std::to_string(text.size()) + " max_len=32).\n" +
                   bad();
        n.ssid = text;
    } else if (name == "psk") {
        if (value.size() >= 2 && value[0] == '"' && value.back() == '"') {
            text = value.substr(1, value.size() - 2);
            // The real parser quotes the value from after its opening quote.
            if (text.size() < 8 || text.size() > 63)
                return "Line " + std::to_string(line) + ": Invalid passphrase length " +
                       std::to_string(text.size()) + " (expected: 8..63) '" + text + "\"'.\n" +
                       bad();
            n.passphrase = text;
        } else if (value.size() == 64 && hex_text(value)) {
            n.psk = value;
        } else {
            return "Line " + std::to_string(line) + ": Invalid PSK '" + value + "'.\n" + bad();
        }
    } else if (name == "key_mgmt") {
        n.keyMgmt = words(value);
        if (!all_in(n.keyMgmt,
                    {"WPA-PSK", "WPA-EAP", "IEEE8021X", "NONE", "WPA-NONE", "FT-PSK", "FT-EAP",
                     "WPA-PSK-SHA256", "WPA-EAP-SHA256", "SAE", "FT-SAE", "OWE", "DPP", "WPS"}))
            return "Line " + std::to_string(line) + ": invalid key_mgmt '" + value + "'\n" + bad();
    } else if (name == "pairwise" || name == "group") {
        bool ok =
            name == "pairwise"
                ? all_in(words(value), {"CCMP", "TKIP", "NONE", "GCMP", "GCMP-256", "CCMP-256"})
                : all_in(words(value), {"CCMP", "TKIP", "WEP104", "WEP40", "GCMP", "GCMP-256",
                                        "CCMP-256", "GTK_NOT_USED"});
        if (!ok)
            return "Line " + std::to_string(line) + ": invalid cipher '" + value + "'.\n" + bad();
    } else if (name == "proto") {
        if (!all_in(words(value), {"WPA", "RSN", "WPA2", "OSEN"})) return bad();
    } else if (name == "scan_ssid" || name == "disabled" || name == "priority" ||
               name == "frequency" || name == "mode" || name == "ieee80211w") {
        char *end = nullptr;
        long number = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end) return bad();
        if (name == "disabled") n.disabled = number != 0;
    } else if (name == "bssid") {
        if (value.size() != 17) return bad();
        n.bssid = value;
        std::transform(n.bssid.begin(), n.bssid.end(), n.bssid.begin(), ::tolower);
    } else if (name == "id_str") {
        if (!string_value(value, &n.idStr)) return bad();
    } else if (name == "auth_alg") {
        if (!all_in(words(value), {"OPEN", "SHARED", "LEAP"})) return bad();
    } else {
        return "Line " + std::to_string(line) + ": unknown network field '" + name + "'.";
    }
    return {};
}

const char *const kGlobalFields[] = {
    "ctrl_interface",
    "ctrl_interface_group",
    "update_config",
    "ap_scan",
    "fast_reauth",
    "country",
    "eapol_version",
    "p2p_disabled",
    "device_name",
    "manufacturer",
    "model_name",
    "config_methods",
    "driver_param",
    "bss_expiration_age",
    "filter_ssids",
    "pmf",
    "sae_groups",
    "autoscan",
    "okc",
    "passive_scan",
    "dot11RSNAConfigPMKLifetime",
    "disable_scan_offload",
};

// Reads the configuration as the real parser does; the complaints go to the log.
bool read_config(const std::string &host, const std::string &shown, std::vector<NetworkBlock> *out,
                 std::string *controlDir, const Log &log) {
    std::string text;
    if (!read_text(host, &text)) {
        log.line("Failed to open config file '" + shown + "', error: No such file or directory");
        log.line("Failed to read or parse configuration '" + shown + "'.");
        return false;
    }
    std::istringstream in(text);
    int errors = 0, lineNo = 0, errorsBefore = 0;
    bool inBlock = false;
    NetworkBlock block;
    auto complain = [&](const std::string &what) {
        std::istringstream lines(what);
        for (std::string l; std::getline(lines, l);) log.line(l);
        ++errors;
    };
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        // Leading and trailing white space and comments outside quotes go.
        size_t start = line.find_first_not_of(" \t\r");
        line = start == std::string::npos ? "" : line.substr(start);
        bool quoted = false;
        for (size_t k = 0; k < line.size(); ++k) {
            if (line[k] == '"') quoted = !quoted;
            if (line[k] == '#' && !quoted) line.resize(k);
        }
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.pop_back();
        if (line.empty()) continue;
        if (!inBlock && line == "network={") {
            inBlock = true;
            errorsBefore = errors;
            block = NetworkBlock();
            block.id = static_cast<int>(out->size());
            continue;
        }
        if (inBlock && line == "}") {
            // A bad field drops its whole block.
            inBlock = false;
            if (errors == errorsBefore)
                out->push_back(block);
            else
                complain("Line " + std::to_string(lineNo) + ": failed to parse network block.");
            continue;
        }
        size_t eq = line.find('=');
        if (inBlock) {
            if (eq == std::string::npos) {
                complain("Line " + std::to_string(lineNo) + ": Invalid SSID line '" + line + "'.");
                continue;
            }
            std::string complaint =
                network_field(block, line.substr(0, eq), line.substr(eq + 1), lineNo);
            if (!complaint.empty()) complain(complaint);
            continue;
        }
        std::string name = eq == std::string::npos ? line : line.substr(0, eq);
        bool known = eq != std::string::npos &&
                     std::any_of(std::begin(kGlobalFields), std::end(kGlobalFields),
                                 [&](const char *f) { return name == f; });
        // "DIR=/var/run/wpa_supplicant GROUP=0" or the directory alone.
        if (known && name == "ctrl_interface") {
            std::string value = line.substr(eq + 1);
            if (value.rfind("DIR=", 0) == 0) value = value.substr(4);
            *controlDir = value.substr(0, value.find_first_of(" \t"));
        }
        if (!known) {
            complain("Line " + std::to_string(lineNo) + ": unknown global field '" + line + "'.");
            complain("Line " + std::to_string(lineNo) + ": Invalid configuration line '" + line +
                     "'.");
        }
    }
    if (inBlock)
        complain("Line " + std::to_string(lineNo) + ": network block was not terminated properly.");
    if (errors) log.line("Failed to read or parse configuration '" + shown + "'.");
    return errors == 0;
}

bool parse_options(const std::vector<std::string> &args, Options *o, std::string *why) {
    const std::string withValue = "bcCDefgGiImoOpP";
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string &a = args[k];
        if (a.size() < 2 || a[0] != '-') return *why = "unexpected '" + a + "'", false;
        for (size_t c = 1; c < a.size(); ++c) {
            char option = a[c];
            if (withValue.find(option) == std::string::npos) {
                if (option == 'B')
                    o->background = true;
                else if (option == 't')
                    o->timestamps = true;
                else if (std::string("dqsKLTuvWh").find(option) == std::string::npos)
                    return *why = std::string("unknown option -") + option, false;
                continue;
            }
            std::string value = c + 1 < a.size()      ? a.substr(c + 1)
                                : k + 1 < args.size() ? args[++k]
                                                      : "";
            if (value.empty())
                return *why = std::string("option -") + option + " wants a value", false;
            if (option == 'i') o->interface = value;
            if (option == 'D') o->driver = value;
            if (option == 'c') o->config = value;
            if (option == 'f') o->logFile = value;
            if (option == 'P') o->pidFile = value;
            break;
        }
    }
    if (o->interface.empty() || o->config.empty())
        return *why = "wants -i IFNAME and -c CONFIG", false;
    return true;
}

// A radio network this block may join: the right SSID (and BSSID, if set)
// and security that matches.
bool matches(const NetworkBlock &b, const RadioNetwork &n) {
    if (b.disabled || n.ssid != b.ssid || (!b.bssid.empty() && b.bssid != n.bssid)) return false;
    auto has = [&](const char *k) {
        return std::find(b.keyMgmt.begin(), b.keyMgmt.end(), k) != b.keyMgmt.end();
    };
    return n.passphrase.empty() ? has("NONE") : has("WPA-PSK") || has("SAE");
}

struct Station {
    Tool &tool;
    Options options;
    std::vector<NetworkBlock> blocks;
    Log log;
    std::string controlDir;  // board path; empty: no control interface
    int failures = 0;

    std::string ifp() const { return options.interface + ": "; }

    void record(const RadioNetwork *n, const NetworkBlock *b = nullptr) {
        ToolRecord r;
        r.tool = "wpa_supplicant";
        r.pid = ::getpid();
        r.interface = options.interface;
        r.fields["config"] = board_terms(tool, options.config);
        r.fields["ctrl_interface"] = controlDir;
        r.fields["state"] = n ? "completed" : "disconnected";
        if (n) {
            r.fields["bssid"] = n->bssid;
            r.fields["ssid"] = escape_bytes(n->ssid);
            r.fields["channel"] = std::to_string(n->channel);
            r.fields["freq"] = std::to_string(channel_frequency(n->channel));
            char signal[32];
            std::snprintf(signal, sizeof signal, "%.2f", n->signal);
            r.fields["signal"] = signal;
            r.fields["id"] = std::to_string(b->id);
            r.fields["id_str"] = b->idStr;
        }
        edit(tool, [&](json_object *root) { set_tool_record(root, tool.dir, r); });
    }

    // The strongest network some block may join, with its block.
    bool pick(RadioNetwork *found, const NetworkBlock **block) {
        json_object *root = board_json();
        std::vector<RadioNetwork> heard = radio_networks_json(root);
        json_object_put(root);
        bool any = false;
        for (const NetworkBlock &b : blocks)
            for (const RadioNetwork &n : heard)
                if (matches(b, n) && (!any || n.signal > found->signal)) {
                    *found = n;
                    *block = &b;
                    any = true;
                }
        return any;
    }

    bool still_heard(const std::string &bssid) {
        json_object *root = board_json();
        std::vector<RadioNetwork> heard = radio_networks_json(root);
        json_object_put(root);
        return std::any_of(heard.begin(), heard.end(),
                           [&](const RadioNetwork &n) { return n.bssid == bssid; });
    }

    // One attempt to join; false when the board is gone.
    bool attempt() {
        if (!board_wait(tool, kScan)) return false;
        RadioNetwork n;
        const NetworkBlock *b = nullptr;
        if (!pick(&n, &b)) {
            log.line(ifp() + "CTRL-EVENT-NETWORK-NOT-FOUND");
            return board_wait(tool, kRetry);
        }
        std::string with = n.bssid + " (SSID='" + ssid_text(n.ssid) +
                           "' freq=" + std::to_string(channel_frequency(n.channel)) + " MHz)";
        log.line(ifp() + "SME: Trying to authenticate with " + with);
        if (n.join == "never") {
            if (!board_wait(tool, kAuthTimeout)) return false;
            log.line(ifp() + "SME: Authentication timed out");
            log.line(ifp() + "CTRL-EVENT-DISCONNECTED bssid=" + n.bssid +
                     " reason=3 locally_generated=1");
            return board_wait(tool, kRetry);
        }
        if (!board_wait(tool, kStep)) return false;
        log.line(ifp() + "Trying to associate with " + with);
        if (!board_wait(tool, kStep)) return false;
        log.line(ifp() + "Associated with " + n.bssid);
        log.line(ifp() + "CTRL-EVENT-SUBNET-STATUS-UPDATE status=0");
        if (!n.passphrase.empty()) {
            if (!board_wait(tool, kHandshake)) return false;
            if (n.join == "handshake-fail" || b->passphrase != n.passphrase) {
                ++failures;
                log.line(ifp() + "WPA: 4-Way Handshake failed - pre-shared key may be incorrect");
                log.line(ifp() + "CTRL-EVENT-SSID-TEMP-DISABLED id=" + std::to_string(b->id) +
                         " ssid=\"" + ssid_text(n.ssid) + "\" auth_failures=" +
                         std::to_string(failures) + " duration=10 reason=WRONG_KEY");
                log.line(ifp() + "CTRL-EVENT-DISCONNECTED bssid=" + n.bssid + " reason=15");
                note(tool, "%s handshake with %s failed", options.interface.c_str(),
                     n.bssid.c_str());
                return board_wait(tool, kRetry);
            }
            log.line(ifp() + "WPA: Key negotiation completed with " + n.bssid +
                     " [PTK=CCMP GTK=CCMP]");
        }
        // Complete for the control interface before the event says so.
        record(&n, b);
        log.line(ifp() + "CTRL-EVENT-CONNECTED - Connection to " + n.bssid +
                 " completed [id=" + std::to_string(b->id) + " id_str=" + b->idStr + "]");
        note(tool, "%s associated with %s (SSID '%s')", options.interface.c_str(), n.bssid.c_str(),
             escape_bytes(n.ssid).c_str());
        // Connected while the network is on the air.
        while (still_heard(n.bssid))
            if (!board_wait(tool, 1.0)) return false;
        log.line(ifp() + "CTRL-EVENT-DISCONNECTED bssid=" + n.bssid +
                 " reason=4 locally_generated=0");
        record(nullptr);
        return true;
    }
};

}  // namespace

int wpa_supplicant_main(Tool &tool) {
    Options options;
    std::string why;
    if (!parse_options(tool.args, &options, &why)) {
        std::fprintf(stderr,
                     "wpa_supplicant: %s\nusage:\n  wpa_supplicant [-BddhKLqqtvW] [-P<pid file>] "
                     "[-f<debug file>] -i<ifname> -c<config file> [-D<driver>]\n",
                     why.c_str());
        return 255;
    }
    Log log;
    log.timestamps = options.timestamps;
    std::string configHost, pidHost;
    if ((!options.logFile.empty() && !path_argument(tool, options.logFile, &log.file)) ||
        !path_argument(tool, options.config, &configHost) ||
        (!options.pidFile.empty() && !path_argument(tool, options.pidFile, &pidHost)))
        return 255;
    Station station{tool, options, {}, log, {}};
    log.line("Successfully initialized wpa_supplicant");
    if (!read_config(configHost, configHost, &station.blocks, &station.controlDir, log)) return 255;
    NetInterface i;
    if (!find_interface(tool, options.interface, &i) || !i.wireless || i.monitor) {
        log.line("Could not read interface " + options.interface + " flags: No such device");
        log.line(options.interface + ": Failed to initialize driver interface");
        log.line("Failed to add interface " + options.interface);
        return 255;
    }
    if (options.background && detach(tool)) return 0;
    if (!options.background) register_self(tool);
    if (!pidHost.empty()) write_text(pidHost, std::to_string(::getpid()) + "\n");
    // The supplicant brings its interface up.
    edit(tool, [&](json_object *root) {
        for (NetInterface &n : net_interfaces(root))
            if (n.name == options.interface && !n.up) {
                n.up = true;
                set_interface_json(root, n);
            }
    });
    station.record(nullptr);
    while (station.attempt()) {
    }
    return 0;
}

}  // namespace zq::sim::tools
