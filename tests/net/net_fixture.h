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
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(60);  // log lines at 2026-01-02 03:04:05
    }
    bool journal_has(const std::string &pattern) {
        for (const std::string &line : zq::sim::journal_lines(dir()))
            if (std::regex_search(line, std::regex(pattern))) return true;
        return false;
    }
    // The board's eth2 as a new board has it.
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
};

// The 66 bytes a query should leave: the texts, NUL-padded.
inline std::string record(const char *mac, const char *ip, const char *mask, const char *gw) {
    EthAttr r{};
    std::strcpy(r.szMac, mac);
    std::strcpy(r.szIp, ip);
    std::strcpy(r.szNetmask, mask);
    std::strcpy(r.szGateway, gw);
    return std::string(reinterpret_cast<const char *>(&r), sizeof r);
}

// The SDK log's ERROR line of function, with the line number taken out.
inline std::string error_line(const char *function, const std::string &text) {
    return std::string("\033[1;31m[2026-01-02 03:04:05] <wifi> ==> ") + function +
           "(N)[ERROR]: " + text + "\033[0;39m\n";
}
inline std::string without_line_numbers(const std::string &err) {
    return std::regex_replace(err, std::regex("\\([0-9]+\\)\\[ERROR\\]"), "(N)[ERROR]");
}
