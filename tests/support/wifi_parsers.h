// Debian's hostapd, wpa_supplicant, wpa_cli and busybox, unpacked (not
// installed) by scripts/fetch-wifi-parsers.sh (or in the directory
// ZQ_WIFI_PARSERS names): their configuration readers report every bad line
// of a file before they reach a driver, so they judge the Wi-Fi
// configurations without touching the host's network; and they run the tool
// directory's scripts in a network namespace of their own.
#pragma once

#include <gtest/gtest.h>

#include <string>

// The unpacked root (ZQ_WIFI_PARSERS, or where the fetching script puts
// them), or null when there is none.
const char *wifi_parsers_root();

// What hostapd says of an access-point configuration, and wpa_supplicant
// (driver "none") of a station configuration: their whole output. Lines
// naming control sockets are left out of the file they read, and the
// interface is a made-up one, so that nothing is made on the host.
std::string hostapd_complaints(const std::string &configuration);
std::string supplicant_complaints(const std::string &configuration);

// Whether an output holds any complaint about a line or the file.
bool parsers_complain(const std::string &output);

// Whether a missing unpacked root fails the test instead of skipping it: in
// CI (CI=true), where Debian's packages are reachable.
bool wifi_parsers_required();

// What keeps the real tools from running here, or null: the unpacked root,
// and with namespaces, the right to make network namespaces (root).
const char *wifi_parsers_missing(bool namespaces);

#define ZQ_REQUIRE_REAL_TOOLS(namespaces)                       \
    do {                                                        \
        const char *missing = wifi_parsers_missing(namespaces); \
        if (!missing) break;                                    \
        if (wifi_parsers_required()) FAIL() << missing;         \
        GTEST_SKIP() << missing;                                \
    } while (0)
#define ZQ_REQUIRE_WIFI_PARSERS() ZQ_REQUIRE_REAL_TOOLS(false)

// Runs script with sh in network, mount and process namespaces of its own
// (its /proc lists only its own processes, and every process it starts ends
// with it), with the real tools first in PATH
// (wpa_supplicant, wpa_cli, hostapd, and busybox's udhcpc, udhcpd, ifconfig
// and route) and ZQ_VBOARD set to board. Its status (-1 when it did not end
// normally) and everything it printed.
struct RealRun {
    int status;
    std::string out;
};
RealRun run_with_real_tools(const std::string &board, const std::string &script);
