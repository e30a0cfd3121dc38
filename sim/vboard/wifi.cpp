// vboard wifi: the networks the board's radio hears.
#include <climits>
#include <cstdio>
#include <string>

#include "board/wifi_radio.h"
#include "emul/board.h"
#include "vboard/verbs.h"

namespace zq::sim {

const char *const kWifiUsage =
    "usage: vboard wifi DIR add SSID [--bssid B] [--signal DBM] [--channel N]\n"
    "                              [--passphrase P] [--join ok|handshake-fail|never]\n"
    "                              [--lease IP[/N]]\n"
    "       vboard wifi DIR remove SSID|BSSID\n"
    "       vboard wifi DIR list\n"
    "       vboard wifi DIR scan answer|hang\n"
    "Edits the networks the board's Wi-Fi radio hears (board.json \"wifi.networks\").\n"
    "SSIDs and passphrases take any byte but NUL: write a byte as \\xHH (two hex\n"
    "digits) and a backslash as \\\\ (quote them from the shell).\n"
    "  --bssid B        the access point's address (default: made from the SSID)\n"
    "  --signal DBM     the level a scan reports (default -50)\n"
    "  --channel N      1-14 or 32-177 (default 6)\n"
    "  --passphrase P   WPA2 passphrase of 8 to 63 characters (default: open network)\n"
    "  --join J         what joining does: ok (default), handshake-fail (the 4-way\n"
    "                   handshake fails whatever the key), never (no answer)\n"
    "  --lease IP[/N]   the address its DHCP server offers (default 192.168.<n>.20/24)\n"
    "scan hang makes the board's iw wait for ever on a scan, printing nothing, as\n"
    "the real iw does when it misses the kernel's report that the scan is done.\n"
    "list prints one network a line: BSSID, signal, channel, security, join, lease\n"
    "and the SSID (bytes as \\xHH).\n";

namespace {

int add(const std::string &dir, const Args &args) {
    RadioNetwork n;
    std::string error;
    if (!unescape_bytes(args[2], &n.ssid, &error)) return fail("wifi", "SSID: " + error);
    for (size_t i = 3; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return fail("wifi", args[i] + " wants a value");
        const std::string &option = args[i], &value = args[i + 1];
        double signal = 0;
        long long channel = 0;
        if (option == "--bssid") {
            n.bssid = value;
        } else if (option == "--signal" && parse_real(value, &signal)) {
            n.signal = signal;
        } else if (option == "--channel" && parse_number(value, INT_MIN, INT_MAX, &channel)) {
            n.channel = static_cast<int>(channel);
        } else if (option == "--passphrase") {
            if (!unescape_bytes(value, &n.passphrase, &error))
                return fail("wifi", "passphrase: " + error);
        } else if (option == "--join") {
            n.join = value;
        } else if (option == "--lease") {
            n.lease = value;
        } else {
            return fail("wifi", "unexpected '" + option + " " + value + "'");
        }
    }
    if (!add_network(dir, n, &error)) return fail("wifi", error);
    return 0;
}

}  // namespace

int run_wifi(const Args &args) {
    if (args.size() < 2) return fail("wifi", "which board and what to do?");
    const std::string &dir = args[0], &what = args[1];
    if (!is_board(dir)) return fail("wifi", not_a_board(dir));
    if (what == "add" && args.size() >= 3) return add(dir, args);
    if (what == "remove" && args.size() == 3) {
        std::string key;
        std::string error;
        if (!unescape_bytes(args[2], &key, &error)) return fail("wifi", error);
        return remove_network(dir, key) ? 0 : fail("wifi", "no network " + args[2]);
    }
    if (what == "scan" && args.size() == 3)
        return set_scan_answer(dir, args[2]) ? 0 : fail("wifi", "scan wants answer or hang");
    if (what == "list" && args.size() == 2) {
        for (const RadioNetwork &n : radio_networks(dir))
            std::printf("%s %.2f %d %s %s %s %s\n", n.bssid.c_str(), n.signal, n.channel,
                        n.passphrase.empty() ? "open" : "wpa2-psk", n.join.c_str(), n.lease.c_str(),
                        escape_bytes(n.ssid).c_str());
        return 0;
    }
    return fail("wifi", "wants add SSID [options], remove SSID|BSSID, list or scan answer|hang");
}

}  // namespace zq::sim
