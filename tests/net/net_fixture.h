// Shared pieces of the interface query tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "board.h"
#include "net/wifi_state.h"
#include "net_board.h"
#include "support/vboard_fixture.h"
#include "zq_net.h"

class NetTest : public VBoardTest {
  protected:
    // A standing clock makes the time of log lines known.
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(60);
    }
    bool journal_has(const std::string &pattern) {
        std::regex re(pattern);
        for (const std::string &line : zq::sim::journal_lines(dir()))
            if (std::regex_search(line, re)) return true;
        return false;
    }
    void write_board_file(const std::string &boardPath, const std::string &text) {
        FILE *f = std::fopen(host(boardPath).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    // The board's eth2 with its defaults, ready to be changed.
    static zq::sim::NetInterface eth2() {
        zq::sim::NetInterface i;
        i.name = "eth2";
        i.mac = "02:5a:51:3e:08:12";
        i.ipv4 = "192.168.1.88";
        i.netmask = "255.255.255.0";
        i.routes = {route("0.0.0.0", "192.168.1.1", "0.0.0.0"),
                    route("192.168.1.0", "0.0.0.0", "255.255.255.0")};
        return i;
    }
    static zq::sim::NetRoute route(const char *destination, const char *gateway, const char *mask) {
        zq::sim::NetRoute r;
        r.destination = destination;
        r.gateway = gateway;
        r.mask = mask;
        return r;
    }
    static void set_eth_name(const char *name) {
        char *field = zq::wifi::g_WifiState.g_EthName;
        std::memset(field, 0, sizeof zq::wifi::g_WifiState.g_EthName);
        std::strncpy(field, name, sizeof zq::wifi::g_WifiState.g_EthName - 1);
    }
};

// The record a query should leave: the given texts, NUL-padded.
inline EthAttr record(const char *mac, const char *ip, const char *mask, const char *gateway) {
    EthAttr r;
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.szMac, mac);
    std::strcpy(r.szIp, ip);
    std::strcpy(r.szNetmask, mask);
    std::strcpy(r.szGateway, gateway);
    return r;
}

inline std::string describe(const EthAttr &r) {
    return std::string("mac=\"") + std::string(r.szMac, strnlen(r.szMac, sizeof r.szMac)) +
           "\" ip=\"" + std::string(r.szIp, strnlen(r.szIp, sizeof r.szIp)) + "\" mask=\"" +
           std::string(r.szNetmask, strnlen(r.szNetmask, sizeof r.szNetmask)) + "\" gw=\"" +
           std::string(r.szGateway, strnlen(r.szGateway, sizeof r.szGateway)) + "\"";
}

// All 66 bytes, padding included.
inline ::testing::AssertionResult same_record(const EthAttr &actual, const EthAttr &expected) {
    if (std::memcmp(&actual, &expected, sizeof(EthAttr)) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got " << describe(actual) << "\nwant " << describe(expected);
}
#define EXPECT_RECORD(actual, expected) EXPECT_TRUE(same_record((actual), (expected)))

// Standard error with the line numbers of SDK log lines taken out.
inline std::string without_line_numbers(const std::string &err) {
    return std::regex_replace(err, std::regex("\\([0-9]+\\)\\[ERROR\\]"), "(N)[ERROR]");
}

// The SDK log's ERROR line for function with message text (board time of freeze_clock's default).
inline std::string error_line(const char *function, const std::string &text) {
    return std::string("\033[1;31m[2026-01-02 03:04:05] <wifi> ==> ") + function +
           "(N)[ERROR]: " + text + "\033[0;39m\n";
}
