// Debian's hostapd and wpa_supplicant, unpacked (not installed) by
// scripts/fetch-wifi-parsers.sh (or in the directory ZQ_WIFI_PARSERS names):
// their configuration readers report every bad line of a file before they
// reach a driver, so they judge the Wi-Fi configurations without touching
// the host's network.
#pragma once

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
