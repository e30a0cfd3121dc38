// board.json's "wifi.networks": the virtual radio's access points.
#include "board/wifi_radio.h"

#include <arpa/inet.h>
#include <json-c/json.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "emul/board.h"
#include "emul/json_util.h"

namespace zq::sim {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool valid_bssid(const std::string &text) {
    if (text.size() != 17) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i % 3 == 2 ? text[i] != ':' : hex_value(text[i]) < 0) return false;
    return true;
}

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool fail(std::string *error, const std::string &why) {
    if (error) *error = why;
    return false;
}

// The lease a network without one offers, made from its (valid) BSSID.
std::string default_lease(const std::string &bssid) {
    return "192.168." + std::to_string(100 + std::strtoul(bssid.c_str() + 15, nullptr, 16) % 100) +
           ".20/24";
}

// Checks the fields and fills in the BSSID and lease a network lacks.
bool complete(RadioNetwork *n, std::string *error) {
    if (n->ssid.size() > 32) return fail(error, "an SSID holds at most 32 bytes");
    if (n->ssid.find('\0') != std::string::npos) return fail(error, "an SSID holds no NUL byte");
    n->bssid = n->bssid.empty() ? bssid_for(n->ssid) : lower(n->bssid);
    if (!valid_bssid(n->bssid))
        return fail(error, "'" + n->bssid + "' is no BSSID (02:11:22:33:44:55)");
    if (!std::isfinite(n->signal) || n->signal > 0 || n->signal < -120)
        return fail(error, "the signal is a level in dBm from -120 to 0");
    if (channel_frequency(n->channel) == 0)
        return fail(error, "channel " + std::to_string(n->channel) + " is not a Wi-Fi channel");
    if (!n->passphrase.empty()) {
        if (n->passphrase.size() < 8 || n->passphrase.size() > 63)
            return fail(error, "a passphrase has 8 to 63 characters");
        for (char c : n->passphrase)
            if (c < 0x20 || c > 0x7E) return fail(error, "a passphrase is printable ASCII");
    }
    if (n->join != "ok" && n->join != "handshake-fail" && n->join != "never")
        return fail(error, "join is ok, handshake-fail or never");
    if (n->lease.empty()) n->lease = default_lease(n->bssid);
    Lease lease;
    if (!parse_lease(n->lease, &lease))
        return fail(error, "'" + n->lease + "' is no lease (IP or IP/N)");
    return true;
}

json_object *network_json(const RadioNetwork &n) {
    json_object *entry = json_object_new_object();
    json_object_object_add(entry, "ssid", json_object_new_string(escape_bytes(n.ssid).c_str()));
    json_object_object_add(entry, "bssid", json_object_new_string(n.bssid.c_str()));
    json_object_object_add(entry, "signal", json_object_new_double(n.signal));
    json_object_object_add(entry, "channel", json_object_new_int(n.channel));
    json_object_object_add(entry, "passphrase", json_object_new_string(n.passphrase.c_str()));
    json_object_object_add(entry, "join", json_object_new_string(n.join.c_str()));
    json_object_object_add(entry, "lease", json_object_new_string(n.lease.c_str()));
    return entry;
}

}  // namespace

std::string escape_byte(unsigned char c) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    return hex;
}

std::string escape_bytes(const std::string &bytes) {
    std::string text;
    for (unsigned char c : bytes)
        text += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, static_cast<char>(c))
                                                   : escape_byte(c);
    return text;
}

bool unescape_bytes(const std::string &text, std::string *bytes, std::string *error) {
    bytes->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *bytes += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            *bytes += '\\';
            ++i;
            continue;
        }
        int high = i + 3 < text.size() && text[i + 1] == 'x' ? hex_value(text[i + 2]) : -1;
        int low = high >= 0 ? hex_value(text[i + 3]) : -1;
        if (low < 0) return fail(error, "a backslash starts \\xHH (two hex digits) or \\\\");
        if (high == 0 && low == 0) return fail(error, "\\x00: no NUL byte");
        *bytes += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return true;
}

int channel_frequency(int channel) {
    if (channel >= 1 && channel <= 13) return 2407 + 5 * channel;
    if (channel == 14) return 2484;
    if (channel >= 32 && channel <= 177) return 5000 + 5 * channel;
    return 0;
}

bool ipv4_value(const std::string &text, uint32_t *value) {
    struct in_addr a {};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    *value = ntohl(a.s_addr);
    return true;
}

std::string dotted(uint32_t value) {
    struct in_addr a {
        htonl(value)
    };
    char text[INET_ADDRSTRLEN] = "";
    return inet_ntop(AF_INET, &a, text, sizeof text);
}

bool parse_lease(const std::string &text, Lease *lease) {
    size_t slash = text.find('/');
    std::string address = text.substr(0, slash);
    std::string digits = slash == std::string::npos ? "24" : text.substr(slash + 1);
    uint32_t host = 0;
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789") != std::string::npos || !ipv4_value(address, &host))
        return false;
    int prefix = std::atoi(digits.c_str());
    uint32_t mask = prefix >= 8 && prefix <= 30 ? 0xFFFFFFFFu << (32 - prefix) : 0;
    uint32_t part = host & ~mask;
    // The address must be a host of its network, and the first host must be free for the router.
    if (!mask || part == 0 || part == ~mask || part == 1) return false;
    *lease = {address, dotted(mask), dotted(host | ~mask), dotted((host & mask) | 1), prefix};
    return true;
}

std::string bssid_for(const std::string &ssid) {
    // FNV-1a: the same SSID always gets the same locally administered address.
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : ssid) hash = (hash ^ c) * 1099511628211ULL;
    char text[18] = "02";
    for (int k = 0; k < 5; ++k)
        std::snprintf(text + 2 + 3 * k, 4, ":%02x", static_cast<unsigned>(hash >> 8 * k & 0xFF));
    return text;
}

std::vector<RadioNetwork> radio_networks_json(json_object *root) {
    std::vector<RadioNetwork> out;
    json_object *array = json_get(json_get(root, "wifi"), "networks");
    size_t count =
        json_object_is_type(array, json_type_array) ? json_object_array_length(array) : 0;
    for (size_t k = 0; k < count; ++k) {
        json_object *entry = json_object_array_get_idx(array, k);
        RadioNetwork n;
        if (!unescape_bytes(json_string(entry, "ssid", ""), &n.ssid, nullptr)) continue;
        n.bssid = json_string(entry, "bssid", "");
        n.signal = json_double(entry, "signal", -50.0);
        n.channel = static_cast<int>(json_int64(entry, "channel", 6));
        n.passphrase = json_string(entry, "passphrase", "");
        n.join = json_string(entry, "join", "ok");
        n.lease = json_string(entry, "lease", "");
        if (complete(&n, nullptr)) out.push_back(std::move(n));
    }
    return out;
}

bool add_network(const std::string &dir, const RadioNetwork &network, std::string *error) {
    RadioNetwork n = network;
    if (!complete(&n, error)) return false;
    bool duplicate = false,
         ok = edit_board(dir, [&](json_object *root) {
             for (const RadioNetwork &old : radio_networks_json(root))
                 duplicate |= old.bssid == n.bssid;
             if (!duplicate)
                 json_object_array_add(json_member(json_member(root, "wifi", json_type_object),
                                                   "networks", json_type_array),
                                       network_json(n));
         });
    if (!ok) return fail(error, dir + " is not a virtual board (no readable board.json)");
    if (duplicate) return fail(error, "the radio already has a network with BSSID " + n.bssid);
    return true;
}

bool remove_network(const std::string &dir, const std::string &ssidOrBssid) {
    bool removed = false;
    bool ok = edit_board(dir, [&](json_object *root) {
        rewrite_array(json_member(root, "wifi", json_type_object), "networks",
                      [&](json_object *entry) -> json_object * {
                          std::string ssid;
                          bool match =
                              json_string(entry, "bssid", "") == lower(ssidOrBssid) ||
                              (unescape_bytes(json_string(entry, "ssid", ""), &ssid, nullptr) &&
                               ssid == ssidOrBssid);
                          removed |= match;
                          return match ? nullptr : json_object_get(entry);
                      });
    });
    return ok && removed;
}

bool set_scan_answer(const std::string &dir, const std::string &answer) {
    if (answer != "answer" && answer != "hang") return false;
    return edit_board(dir, [&](json_object *root) {
        json_object_object_add(json_member(root, "wifi", json_type_object), "scan",
                               json_object_new_string(answer.c_str()));
    });
}

bool scan_hangs_json(json_object *root) {
    return json_string(json_get(root, "wifi"), "scan", "answer") == "hang";
}

std::vector<RadioNetwork> radio_networks(const std::string &dir) {
    json_object *root = json_load_file(dir + "/" + kBoardFile, nullptr);
    std::vector<RadioNetwork> out = radio_networks_json(root);
    json_object_put(root);
    return out;
}

}  // namespace zq::sim
