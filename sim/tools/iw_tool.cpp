// iw: scans of the virtual radio, the station's link, and the interface
// changes of a mode switch (del, interface add, set channel). Output and
// errors as the real tool prints them.
#include <json-c/json.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/wifi_radio.h"
#include "board/wifi_records.h"
#include "emul/board.h"
#include "emul/json_util.h"
#include "tools/tool.h"

namespace zq::sim::tools {
namespace {

// A scan takes this long on the board clock.
constexpr double kScanSeconds = 1.0;

// iw's exit status is its negative errno as a byte.
int command_failed(int error) {
    std::fprintf(stderr, "command failed: %s (%d)\n", std::strerror(error), -error);
    return 256 - error;
}

// SSID bytes as iw prints them: non-printable bytes, backslashes and the
// spaces at either end as \xHH, inner spaces as they are.
std::string iw_ssid(const std::string &ssid) {
    std::string out = escape_bytes(ssid);
    if (!out.empty() && out[0] == ' ') out.replace(0, 1, escape_byte(' '));
    if (!out.empty() && out.back() == ' ') out.replace(out.size() - 1, 1, escape_byte(' '));
    return out;
}

void print_bss(const RadioNetwork &n, const std::string &interface, bool associated,
               long long uptimeUs) {
    bool secured = !n.passphrase.empty();
    int freq = channel_frequency(n.channel);
    // The access point's own clock: up a while longer than the board.
    unsigned long long tsf = uptimeUs + (std::strtoull(n.bssid.c_str() + 15, nullptr, 16) << 24),
                       s = tsf / 1000000;
    std::printf("BSS %s(on %s)%s\n\tlast seen: %lld.%03llds [boottime]\n", n.bssid.c_str(),
                interface.c_str(), associated ? " -- associated" : "", uptimeUs / 1000000,
                uptimeUs / 1000 % 1000);
    std::printf("\tTSF: %llu usec (%llud, %.2llu:%.2llu:%.2llu)\n", tsf, s / 86400, s / 3600 % 24,
                s / 60 % 60, s % 60);
    std::printf("\tfreq: %d\n\tbeacon interval: 100 TUs\n", freq);
    std::printf("\tcapability: ESS %sShortSlotTime (0x%04x)\n", secured ? "Privacy " : "",
                secured ? 0x0411 : 0x0401);
    std::printf("\tsignal: %.2f dBm\n\tlast seen: 0 ms ago\n", n.signal);
    std::printf("\tInformation elements from Probe Response frame:\n");
    std::printf("\tSSID: %s\n", iw_ssid(n.ssid).c_str());
    if (freq < 5000) {
        std::printf("\tSupported rates: 1.0* 2.0* 5.5* 11.0* 6.0 9.0 12.0 18.0 \n");
        std::printf("\tDS Parameter set: channel %d\n\tERP: <no flags>\n", n.channel);
        std::printf("\tExtended supported rates: 24.0 36.0 48.0 54.0 \n");
    } else {
        std::printf("\tSupported rates: 6.0* 9.0 12.0* 18.0 24.0* 36.0 48.0 54.0 \n");
    }
    if (secured)
        std::printf(
            "\tRSN:\t * Version: 1\n"
            "\t\t * Group cipher: CCMP\n"
            "\t\t * Pairwise ciphers: CCMP\n"
            "\t\t * Authentication suites: PSK\n"
            "\t\t * Capabilities: 16-PTKSA-RC 1-GTKSA-RC (0x000c)\n");
    std::printf(
        "\tBSS Load:\n"
        "\t\t * station count: 2\n"
        "\t\t * channel utilisation: 41/255\n"
        "\t\t * available admission capacity: 0 [*32us]\n"
        "\tHT capabilities:\n"
        "\t\tCapabilities: 0x1ad\n"
        "\t\t\tRX LDPC\n\t\t\tHT20\n\t\t\tSM Power Save disabled\n\t\t\tRX HT20 SGI\n"
        "\t\t\tTX STBC\n\t\t\tRX STBC 1-stream\n\t\t\tMax AMSDU length: 3839 bytes\n"
        "\t\t\tNo DSSS/CCK HT40\n"
        "\t\tMaximum RX AMPDU length 65535 bytes (exponent: 0x003)\n"
        "\t\tMinimum RX AMPDU time spacing: 4 usec (0x05)\n"
        "\t\tHT RX MCS rate indexes supported: 0-7\n"
        "\t\tHT TX MCS rate indexes are undefined\n");
    std::printf(
        "\tHT operation:\n"
        "\t\t * primary channel: %d\n"
        "\t\t * secondary channel offset: no secondary\n"
        "\t\t * STA channel width: 20 MHz\n"
        "\t\t * RIFS: 0\n\t\t * HT protection: no\n\t\t * non-GF present: 1\n"
        "\t\t * OBSS non-GF present: 0\n\t\t * dual beacon: 0\n\t\t * dual CTS protection: 0\n"
        "\t\t * STBC beacon: 0\n\t\t * L-SIG TXOP Prot: 0\n\t\t * PCO active: 0\n"
        "\t\t * PCO phase: 0\n",
        n.channel);
    std::printf(
        "\tOverlapping BSS scan params:\n"
        "\t\t * passive dwell: 20 TUs\n"
        "\t\t * active dwell: 10 TUs\n"
        "\t\t * channel width trigger scan interval: 300 s\n"
        "\t\t * scan passive total per channel: 200 TUs\n"
        "\t\t * scan active total per channel: 20 TUs\n"
        "\t\t * BSS width channel transition delay factor: 5\n"
        "\t\t * OBSS Scan Activity Threshold: 0.25 %%\n"
        "\tExtended capabilities:\n"
        "\t\t * HT Information Exchange Supported\n"
        "\t\t * 20/40 BSS Coexistence Management Support\n"
        "\t\t * Extended Channel Switching\n"
        "\tWMM:\t * Parameter version 1\n"
        "\t\t * u-APSD\n"
        "\t\t * BE: CW 15-1023, AIFSN 3\n"
        "\t\t * BK: CW 15-1023, AIFSN 7\n"
        "\t\t * VI: CW 7-15, AIFSN 2, TXOP 3008 usec\n"
        "\t\t * VO: CW 3-7, AIFSN 2, TXOP 1504 usec\n");
}

// The station's link on an interface: the supplicant's record while it runs.
bool station_link(Tool &tool, const std::string &interface, ToolRecord *link) {
    return running_tool(tool.dir, "wpa_supplicant", interface, link) &&
           link->fields["state"] == "completed";
}

int scan(Tool &tool, const NetInterface &i) {
    if (!i.up) return command_failed(ENETDOWN);
    if (i.monitor) return command_failed(EOPNOTSUPP);
    if (!board_wait(tool, kScanSeconds)) return command_failed(ENODEV);
    json_object *root = board_json();
    if (scan_hangs_json(root)) {
        json_object_put(root);
        note(tool, "scan on %s: waits for ever", i.name.c_str());
        for (;;) pause();
    }
    std::vector<RadioNetwork> networks = radio_networks_json(root);
    json_object_put(root);
    ToolRecord link;
    std::string joined = station_link(tool, i.name, &link) ? link.fields["bssid"] : "";
    long long uptimeUs = board_monotonic_ns() / 1000;
    for (const RadioNetwork &n : networks) print_bss(n, i.name, n.bssid == joined, uptimeUs);
    note(tool, "scan on %s: %zu networks", i.name.c_str(), networks.size());
    return 0;
}

int link(Tool &tool, const std::string &name) {
    ToolRecord r;
    if (!station_link(tool, name, &r)) {
        std::printf("Not connected.\n");
        return 0;
    }
    std::string ssid;
    unescape_bytes(r.fields["ssid"], &ssid, nullptr);
    long signal = std::lround(std::strtod(r.fields["signal"].c_str(), nullptr));
    std::printf("Connected to %s (on %s)\n\tSSID: %s\n\tfreq: %s\n", r.fields["bssid"].c_str(),
                name.c_str(), iw_ssid(ssid).c_str(), r.fields["freq"].c_str());
    std::printf(
        "\tRX: 30517 bytes (221 packets)\n\tTX: 4630 bytes (45 packets)\n"
        "\tsignal: %ld dBm\n"
        "\trx bitrate: 65.0 MBit/s MCS 7\n\ttx bitrate: 65.0 MBit/s MCS 7\n\n"
        "\tbss flags:\tshort-slot-time\n\tdtim period:\t2\n\tbeacon int:\t100\n",
        signal);
    return 0;
}

// The MAC of phy index, from board.json "wifi.phys"; false when there is no such radio.
bool phy_mac(int index, std::string *mac) {
    json_object *root = board_json();
    json_object *phys = json_get(json_get(root, "wifi"), "phys");
    size_t n = json_object_is_type(phys, json_type_array) ? json_object_array_length(phys) : 0;
    for (size_t k = 0; k < n && mac->empty(); ++k) {
        json_object *phy = json_object_array_get_idx(phys, k);
        if (json_int64(phy, "index", -1) == index)
            *mac = json_string(phy, "mac", "02:00:00:00:00:00");
    }
    json_object_put(root);
    return !mac->empty();
}

int interface_add(Tool &tool, const std::string &phy, const std::string &name,
                  const std::string &type) {
    char *end = nullptr;
    long index = phy.compare(0, 3, "phy") == 0 ? std::strtol(phy.c_str() + 3, &end, 10) : -1;
    NetInterface i;
    if (!end || *end || phy.size() == 3 || !phy_mac(static_cast<int>(index), &i.mac)) {
        std::fprintf(stderr, "command failed: No such file or directory (-2)\n");
        return 254;
    }
    if (type != "managed" && type != "monitor") return command_failed(EOPNOTSUPP);
    if (!usable_interface_name(name) || name.size() > 15) return command_failed(EINVAL);
    if (find_interface(tool, name, nullptr)) return command_failed(ENFILE);
    i.name = name;
    i.up = false;
    i.wireless = true;
    i.phy = static_cast<int>(index);
    i.monitor = type == "monitor";
    edit_board(tool.dir, [&](json_object *root) { set_interface_json(root, i); });
    note(tool, "%s added on %s, type %s", name.c_str(), phy.c_str(), type.c_str());
    return 0;
}

int set_channel(Tool &tool, const NetInterface &i, const std::string &channel) {
    char *end = nullptr;
    long number = std::strtol(channel.c_str(), &end, 10);
    if (channel.empty() || *end || number > 200 || channel_frequency(static_cast<int>(number)) == 0)
        return command_failed(EINVAL);
    if (!i.monitor) return command_failed(EBUSY);
    edit_board(tool.dir, [&](json_object *root) {
        json_object *wifi = json_member(root, "wifi", json_type_object);
        json_object_object_add(json_member(wifi, "channels", json_type_object), i.name.c_str(),
                               json_object_new_int(static_cast<int>(number)));
    });
    note(tool, "%s tuned to channel %ld", i.name.c_str(), number);
    return 0;
}

}  // namespace

int iw_main(Tool &tool) {
    const std::vector<std::string> &a = tool.args;
    if (a.size() == 7 && a[0] == "phy" && a[2] == "interface" && a[3] == "add" && a[5] == "type")
        return interface_add(tool, a[1], a[4], a[6]);
    std::string verb = a.size() >= 3 && a[0] == "dev" ? a[2] : "";
    if (!(a.size() == 3 && (verb == "scan" || verb == "link" || verb == "del")) &&
        !(a.size() == 5 && verb == "set" && a[3] == "channel")) {
        std::fprintf(stderr,
                     "Usage:\tiw [options] command\n"
                     "The virtual board's iw knows: dev <devname> scan | link | del |\n"
                     "set channel <channel>; phy <phyname> interface add <name> type <type>\n");
        return 1;
    }
    NetInterface i;
    if (!find_interface(tool, a[1], &i) || !i.wireless) return command_failed(ENODEV);
    if (verb == "scan") return scan(tool, i);
    if (verb == "link") return link(tool, i.name);
    if (verb == "set") return set_channel(tool, i, a[4]);
    edit_board(tool.dir, [&](json_object *root) { remove_interface_json(root, i.name); });
    note(tool, "%s deleted", i.name.c_str());
    return 0;
}

}  // namespace zq::sim::tools
