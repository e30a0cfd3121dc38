// Stand-ins for the board's Wi-Fi side, for the SDK's Wi-Fi tests: the
// interface wlan0 with its PHY index, a tool directory /usr/wifi of small
// scripts and templates, and quiet route/udhcpc/udhcpd/dnsd in bin/ (the
// host's route must never run). Drop this file once fresh boards have
// their own Wi-Fi tools.
//
// The scripts do only what a test tells them through files in /usr/wifi:
//   scan.out, link.out      what "iw dev IF scan" and "iw dev IF link" print
//   wpa_supplicant.do       shell lines the supplicant runs when started
//   hostapd.status          hostapd's exit status (0 when missing)
// "iw phy ... type monitor|managed" puts the matching ifconfig listing in
// place, so that the mode the SDK reads back follows the switch.
#pragma once

#include <string>

void install_wifi_stand_ins(const std::string &dir);

// Writes text to a file of the board (a board path), replacing it.
void write_board_file(const std::string &dir, const std::string &boardPath,
                      const std::string &text);
