// The Wi-Fi templates are real configurations: Debian's hostapd and
// wpa_supplicant (unpacked, not installed, by scripts/fetch-wifi-parsers.sh)
// accept the templates with the edits the Wi-Fi module makes. Skipped
// without them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board.h"
#include "support/vboard_fixture.h"
#include "support/wifi_parsers.h"

namespace {

using WifiTemplatesTest = VBoardTest;

// The template with each line that starts with a key of edits ("ssid=", or
// "wpa*" for every key that begins so) replaced (an empty replacement:
// dropped), as the Wi-Fi module's rewriter leaves it; lines naming control
// sockets in /var/run are dropped too, so that the check makes nothing on
// the host.
std::string made_from(const std::string &templ,
                      const std::vector<std::pair<std::string, std::string>> &edits) {
    std::string out, line;
    std::istringstream in(templ);
    while (std::getline(in, line)) {
        if (line.find("ctrl_interface") != std::string::npos || line.rfind("#", 0) == 0) continue;
        bool replaced = false;
        for (const auto &[key, replacement] : edits) {
            size_t start = std::min(line.find_first_not_of('\t'), line.size());
            bool prefix = key.back() == '*';
            std::string k = prefix ? key.substr(0, key.size() - 1) : key;
            if (line.compare(start, k.size(), k) != 0) continue;
            if (!replacement.empty()) out += line.substr(0, start) + replacement + "\n";
            replaced = true;
            break;
        }
        if (!replaced) out += line + "\n";
    }
    return out;
}

TEST_F(WifiTemplatesTest, RealParsersAcceptTheMadeFiles) {
    if (!wifi_parsers_root())
        GTEST_SKIP() << "ZQ_WIFI_PARSERS names no unpacked hostapd/wpa_supplicant";
    struct Row {
        std::string ssid, passphrase;
        int channel;
    };
    const Row rows[] = {{"Home", "secret123", 6},
                        {"Caf\xc3\xa9 #1 \"x\" \\ y", "p#ss \"word\" \\", 11},
                        {" edge spaces ", "", 1},
                        {std::string(32, 'W'), std::string(63, 'k'), 13}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.ssid);
        bool open = row.passphrase.empty();
        std::string ap = made_from(
            zq::sim::read_board_file(dir(), "/usr/wifi/hostapd.conf"),
            {{"ssid=", "ssid=" + row.ssid},
             {"channel=", "channel=" + std::to_string(row.channel)},
             {open ? "wpa*" : "wpa_passphrase=", open ? "" : "wpa_passphrase=" + row.passphrase},
             {"rsn_pairwise=", open ? "" : "rsn_pairwise=CCMP"}});
        std::string apOut = hostapd_complaints(ap);
        EXPECT_FALSE(parsers_complain(apOut)) << ap << apOut;

        std::vector<std::pair<std::string, std::string>> edits = {
            {"ssid=", "ssid=\"" + row.ssid + "\""}};
        if (open)
            edits.insert(edits.end(), {{"scan_ssid=", ""},
                                       {"pairwise=", ""},
                                       {"group=", ""},
                                       {"psk=", ""},
                                       {"key_mgmt=", "key_mgmt=NONE"}});
        else
            edits.push_back({"psk=", "psk=\"" + row.passphrase + "\""});
        std::string sta =
            made_from(zq::sim::read_board_file(dir(), "/usr/wifi/wpa_wpa2.conf"), edits);
        std::string staOut = supplicant_complaints(sta);
        EXPECT_FALSE(parsers_complain(staOut)) << sta << staOut;
    }
}

}  // namespace
