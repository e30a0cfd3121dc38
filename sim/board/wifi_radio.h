// The virtual radio: the access points a board's Wi-Fi interface hears, as
// board.json's "wifi.networks" holds them, and the test-facing edits of it.
// The fake Wi-Fi tools (sim/tools/) scan it, join its networks and lease
// addresses from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct json_object;

namespace zq::sim {

struct RadioNetwork {
    std::string ssid;         // any bytes but NUL (empty: a hidden network)
    std::string bssid;        // "02:11:22:33:44:55"; empty: made from the SSID
    double signal = -50.0;    // dBm
    int channel = 6;          // 1-14 (2.4 GHz) or 32-177 (5 GHz)
    std::string passphrase;   // empty: an open network (no RSN); else 8-63 printable
    std::string join = "ok";  // "ok", "handshake-fail", "never"
    std::string lease;        // address DHCP offers ("IP" or "IP/N"); empty: 192.168.<n>.20/24
};

// Adds the network to the board's radio; false with a reason for a bad field
// or a BSSID the radio already has.
bool add_network(const std::string &dir, const RadioNetwork &network, std::string *error);
// Removes every network with that SSID or BSSID; false when none had it.
bool remove_network(const std::string &dir, const std::string &ssidOrBssid);
// How the board's iw answers a scan: "answer" (default), or "hang": it
// never prints, as the real iw does when it misses the kernel's report that
// the scan is done. False when dir is no board or the word is neither.
bool set_scan_answer(const std::string &dir, const std::string &answer);
// The radio's networks in order, with BSSID and lease filled in.
std::vector<RadioNetwork> radio_networks(const std::string &dir);

// ---- shared with the fake tools ----

// Whether a board.json's scans hang.
bool scan_hangs_json(json_object *root);
// The networks of a board.json (entries with bad fields are left out).
std::vector<RadioNetwork> radio_networks_json(json_object *root);

// Bytes as a text of printable ASCII: other bytes and the backslash become
// \xHH. The inverse takes \xHH and \\ (any other backslash is an error).
std::string escape_bytes(const std::string &bytes);
// One byte as "\xHH" (two lower-case hex digits): the escape of every text
// the board and its tools write.
std::string escape_byte(unsigned char c);
bool unescape_bytes(const std::string &text, std::string *bytes, std::string *error);

// The centre frequency in MHz of a channel (0 when there is none).
int channel_frequency(int channel);

// An IPv4 address in host order; false when text is not a dotted address.
bool ipv4_value(const std::string &text, uint32_t *value);
std::string dotted(uint32_t value);

// A lease "IP/N" split into address, netmask, broadcast address and the
// network's first host (router and DNS server of the network); false when
// it is not one.
struct Lease {
    std::string address, netmask, broadcast, router;
    int prefix = 24;
};
bool parse_lease(const std::string &text, Lease *lease);

// The BSSID a network without one gets, made from its SSID.
std::string bssid_for(const std::string &ssid);

}  // namespace zq::sim
