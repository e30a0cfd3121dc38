// The Wi-Fi unit's pure parts: the configuration rewriter and copier, the
// checks of caller input, the scan parser and the SSID decoder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "emul/board.h"
#include "net/wifi_config_file.h"
#include "net/wifi_input.h"
#include "net/wifi_scan.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"

namespace {

namespace wifi = zq::wifi;
using WifiFilesTest = VBoardTest;

TEST_F(WifiFilesTest, RewriterChangesWholeKeysAndKeepsWholeLines) {
    const std::string longLine = "x=" + std::string(300, 'a'), longKey(128, 'k');
    struct Row {
        std::string before;
        const char *key, *delim, *value, *quote;
        int result;
        std::string after;
    } rows[] = {
        {"ssid=old\n", "ssid", "=", "new", "\"\"", 0, "ssid=\"new\"\n"},
        {"network={\n\tscan_ssid=1\n\tssid=\"t\"\n}\n", "ssid", "=", "a b", "\"\"", 0,
         "network={\n\tscan_ssid=1\n\tssid=\"a b\"\n}\n"},
        // A longer name first neither matches nor stops the key's own line.
        {"wpa_passphrase=p\nwpa=1\n", "wpa", "=", "2", nullptr, 0, "wpa_passphrase=p\nwpa=2\n"},
        {"ssid=\n", "ssid", "=", "v", "\"\"", 0, "ssid=\"v\"\n"},
        {"ssid\n", "ssid", "=", "v", nullptr, 0, "ssid=v\n"},
        {"wpa_passphrase=a=b\n", "wpa_passphrase", "=", "c", nullptr, 0, "wpa_passphrase=c\n"},
        {"channel=1\t# two\n", "channel", "=", "6", nullptr, 0, "channel=6\t# two\n"},
        // Duplicates all change; a value that no line takes is refused.
        {"channel=6\nchannel=1\n", "channel", "=", "11", nullptr, 0, "channel=11\nchannel=11\n"},
        {"#ssid=old\n", "ssid", "=", "v", nullptr, -1, "#ssid=old\n"},
        {longLine + "\n#c\nk=1", "k", "=", "2", nullptr, 0, longLine + "\nk=2\n"},
        // Without a delimiter a removal takes the key's whole family.
        {"wpa=2\nwpa_key_mgmt=W\n#c\nchannel=1\n", "wpa", nullptr, nullptr, nullptr, 0,
         "channel=1\n"},
        {"psk=1\n#c\n", "psk", nullptr, nullptr, nullptr, -1, ""},
        {"ssid=old\n", "ssid", "=", "x\nwpa=0", nullptr, -1, "ssid=old\n"},
        {"ssid=old\n", longKey.c_str(), "=", "v", nullptr, -22, "ssid=old\n"},
    };
    for (const Row &row : rows) {
        write_board_file(dir(), "/var/c.conf", row.before);
        int result = 0;
        capture_output([&] {
            result = wifi::WriteConfigFile("/var/c.conf", row.key, row.delim, row.value, row.quote);
        });
        EXPECT_EQ(result, row.result) << row.before;
        EXPECT_EQ(zq::sim::read_board_file(dir(), "/var/c.conf"), row.after) << row.before;
    }
    capture_output([&] {
        EXPECT_EQ(wifi::WriteConfigFile("/var/none.conf", "k", "=", "v", nullptr), -2);
        write_board_file(dir(), "/var/big.conf", std::string(70000, '#'));
        EXPECT_EQ(wifi::WriteConfigFile("/var/big.conf", "k", "=", "v", nullptr), -1);
    });
}

TEST_F(WifiFilesTest, CopyFailsOnAFailedWrite) {
    write_board_file(dir(), "/var/src", "interface=wlan0\n");
    ASSERT_EQ(::mknod(host("/dev/full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    capture_output([] {
        EXPECT_EQ(wifi::CopyConfigFile("/var/src", "/var/dst"), 0);
        EXPECT_EQ(wifi::CopyConfigFile("/var/src", "/dev/full"), -1);
        EXPECT_EQ(wifi::CopyConfigFile("/var/none", "/var/dst"), -1);
        EXPECT_EQ(wifi::CopyConfigFile(nullptr, "/var/dst"), -1);
    });
    EXPECT_EQ(zq::sim::read_board_file(dir(), "/var/dst"), "interface=wlan0\n");
}

TEST(WifiInput, OnlyPlainNamesPassphrasesAndAddressesPass) {
    for (const char *ssid : {"Caf\xc3\xa9 \"; reboot", "12345678901234567890123456789012"})
        EXPECT_TRUE(wifi::usable_ssid(ssid, 128)) << ssid;
    for (const char *ssid : {"", "a\nwpa=0", "del\x7f", "123456789012345678901234567890123"})
        EXPECT_FALSE(wifi::usable_ssid(ssid, 128)) << ssid;
    for (const char *pass : {"", "12345678", "with \"quote\"", static_cast<const char *>(nullptr)})
        EXPECT_TRUE(wifi::usable_passphrase(pass, 128));
    const std::string tooLong(64, 'p');
    for (const char *pass : {"1234567", "line\nwpa=0", tooLong.c_str()})
        EXPECT_FALSE(wifi::usable_passphrase(pass, 128)) << pass;
    std::string prefix;
    EXPECT_TRUE(wifi::plain_ipv4("192.168.5.1", 16, &prefix));
    EXPECT_EQ(prefix, "192.168.5.");
    for (const char *ip :
         {"192.168.5.300", "192.168.5.1 ;reboot", "1.2.3", "01.2.3.4", "255.255.255.255"})
        EXPECT_FALSE(wifi::plain_ipv4(ip, 16, &prefix)) << ip;
    char unterminated[16];
    std::memset(unterminated, '1', sizeof unterminated);
    EXPECT_FALSE(wifi::plain_ipv4(unterminated, sizeof unterminated, &prefix));
}

// Each entry of a scan of text with room for capacity, as "BSSID SSID quality channel open".
std::vector<std::string> scan(const std::string &text, int capacity) {
    std::istringstream in(text);
    std::vector<WifiInfo> list(static_cast<size_t>(capacity));
    wifi::ScanLines lines = [&](std::string *line) { return bool(std::getline(in, *line)); };
    list.resize(static_cast<size_t>(wifi::CollectScanList(lines, list.data(), capacity)));
    std::vector<std::string> entries;
    for (const WifiInfo &i : list)
        entries.push_back(std::string(i.szBssid) + " " + i.szSsid + " " +
                          std::to_string(i.s32Quality) + " " + std::to_string(i.s32Channel) + " " +
                          std::to_string(i.bOpen));
    return entries;
}

// Blocks as "iw dev wlan0 scan | egrep ... | sed '/OBSS/d'" leaves them.
std::string block(const std::string &mac, const std::string &signal, const std::string &ssid,
                  const std::string &extra = "\t\t * primary channel: 6\n") {
    return "BSS " + mac + "(on wlan0)\n\tsignal: " + signal + " dBm\n\tSSID: " + ssid +
           "\n\tBSS Load:\n" + extra;
}

TEST(WifiScan, BlocksStartOnlyAtTheirAddressLine) {
    std::string text =
        block("02:00:00:00:00:01", "-80.00", "Far") +
        block("02:00:00:00:00:02", "-55.00", "BSS 02:00:00:00:00:09 RSN",
              "\t\t * primary channel: 11\n\tOverlapping BSS scan params:\n"
              "\t\t * 20/40 BSS Coexistence\n\tRSN:\t * Version: 1\n") +
        block("02:00:00:00:00:03", "-70.00", "Two  inner\\x20spaces") +
        block("02:00:00:00:00:04", "-100.00", "") +
        "BSS 02:00:00:00:00:05(on wlan0)\n\tsignal: -40.00 dBm\n\tSSID: NoChannel\n" +
        block("02:00:00:00:00:06", "-99.00", "Weak");
    EXPECT_EQ(scan(text, 8), std::vector<std::string>({
                                 "02:00:00:00:00:02 BSS 02:00:00:00:00:09 RSN 90 11 0",
                                 "02:00:00:00:00:03 Two  inner spaces 60 6 1",
                                 "02:00:00:00:00:01 Far 40 6 1",
                                 "02:00:00:00:00:06 Weak 2 6 1",
                                 "02:00:00:00:00:04  0 6 1",
                             }));
    // Three places: the first three whole blocks, ordered.
    std::string five;
    int n = 0;
    for (const char *signal : {"-80.00", "-55.00", "-70.00", "-40.00", "-90.00"})
        five += block("02:00:00:00:00:0" + std::to_string(n++), signal, "x");
    EXPECT_EQ(scan(five, 3),
              std::vector<std::string>({"02:00:00:00:00:01 x 90 6 1", "02:00:00:00:00:02 x 60 6 1",
                                        "02:00:00:00:00:00 x 40 6 1"}));
}

TEST(WifiScan, DecoderTakesOnlyBackslashHexPairs) {
    const char *rows[][2] = {{"x41\\x42", "x41B"}, {"\\x5c\\x22", "\\\""},    {"a\\x0", "a\\x0"},
                             {"\\xg1", "\\xg1"},   {"nul\\x00end", "nulend"}, {"\\", "\\"}};
    for (const auto &row : rows) {
        char out[128];
        wifi::DecodeSsid(row[0], out);
        EXPECT_STREQ(out, row[1]) << row[0];
    }
    char out[128];
    std::string many;
    for (int i = 0; i < 200; ++i) many += "\\xff";
    wifi::DecodeSsid(many, out);
    EXPECT_EQ(std::strlen(out), 127u);
    EXPECT_EQ(wifi::LinkQuality(-85), 30);
    EXPECT_EQ(wifi::LinkQuality(-100), 0);  // never read as -10
}

}  // namespace
