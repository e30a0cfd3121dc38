// Debian's hostapd, wpa_supplicant, wpa_cli and busybox, unpacked (not
// installed) by scripts/fetch-wifi-parsers.sh, or in the directory
// ZQ_WIFI_PARSERS names: their configuration readers report every bad line
// of a file before they reach a driver, and the tools run the board's
// scripts in network namespaces of their own, so nothing touches the host.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/vboard_fixture.h"

// What keeps the real tools from running here (the unpacked programs, and
// with namespaces the right to make network namespaces), or null.
const char *wifi_parsers_missing(bool namespaces);
// Whether what is missing fails the test instead of skipping it: in CI
// (CI=true), where Debian's packages are reachable.
bool wifi_parsers_required();

#define ZQ_REQUIRE_REAL_TOOLS(namespaces)                       \
    do {                                                        \
        const char *missing = wifi_parsers_missing(namespaces); \
        if (!missing) break;                                    \
        if (wifi_parsers_required()) FAIL() << missing;         \
        GTEST_SKIP() << missing;                                \
    } while (0)

// What hostapd (an access point's configuration) or wpa_supplicant, with
// driver "none" (a station's), says of a configuration when it complains
// about a line or the file, else "". The control socket lines are left out
// and the interface is a made-up one, so that nothing is made on the host.
std::string parser_complaints(bool accessPoint, const std::string &configuration);

// Runs script with sh in network, mount and process namespaces of its own
// (its /proc lists only its own processes, and every process it starts ends
// with it), with the real tools first in PATH (wpa_supplicant, wpa_cli,
// hostapd, and busybox's udhcpc, udhcpd, ifconfig and route) and ZQ_VBOARD
// set to board: its status and everything it printed.
CliRun run_with_real_tools(const std::string &board, const std::string &script);
