// The Wi-Fi templates are real configurations: Debian's hostapd and
// wpa_supplicant (unpacked, not installed, by scripts/check-wifi-templates.sh
// into the directory ZQ_WIFI_PARSERS names) accept the files the Wi-Fi module
// makes from them. Skipped without them.
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

// The program's complaints about file (its whole output).
std::string parse_with(const std::string &program, const std::string &args) {
    std::string root = std::getenv("ZQ_WIFI_PARSERS");
    std::string command = "LD_LIBRARY_PATH=" + root + "/lib/x86_64-linux-gnu:" + root +
                          "/usr/lib/x86_64-linux-gnu timeout 10 " + root + program + " " + args +
                          " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; pipe && (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    if (pipe) pclose(pipe);
    return out;
}

TEST_F(WifiTemplatesTest, RealParsersAcceptTheMadeFiles) {
    const char *root = std::getenv("ZQ_WIFI_PARSERS");
    if (!root || !*root) GTEST_SKIP() << "ZQ_WIFI_PARSERS names no unpacked hostapd/wpa_supplicant";
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
            {{"interface=", "interface=zqcheck0"},
             {"ssid=", "ssid=" + row.ssid},
             {"channel=", "channel=" + std::to_string(row.channel)},
             {open ? "wpa*" : "wpa_passphrase=", open ? "" : "wpa_passphrase=" + row.passphrase},
             {"rsn_pairwise=", open ? "" : "rsn_pairwise=CCMP"}});
        std::ofstream(host("/tmp/ap.conf")) << ap;
        std::string apOut = parse_with("/usr/sbin/hostapd", host("/tmp/ap.conf"));
        EXPECT_EQ(apOut.find("Line "), std::string::npos) << ap << apOut;
        EXPECT_EQ(apOut.find("errors found"), std::string::npos) << ap << apOut;

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
        std::ofstream(host("/tmp/wpa.conf")) << sta;
        std::string staOut =
            parse_with("/sbin/wpa_supplicant", "-Dnone -izqcheck0 -c " + host("/tmp/wpa.conf"));
        EXPECT_EQ(staOut.find("Failed to read or parse configuration"), std::string::npos)
            << sta << staOut;
        EXPECT_EQ(staOut.find("Line "), std::string::npos) << sta << staOut;
    }
}

}  // namespace
