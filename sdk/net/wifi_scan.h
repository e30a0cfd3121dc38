// The scan tool's output, read line by line: one block per access point,
// from a line "BSS <mac>" to the next.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "zq_wifi.h"

namespace zq::wifi {

// The scan tool prints an SSID byte that is not plainly printable as
// "\x" and two hexadecimal digits: those become the byte (00 adds
// nothing), every other character stays as it is. out is always
// terminated and holds at most 127 bytes.
void DecodeSsid(std::string_view text, char (&out)[128]);

// Gives the next line (newline removed); false at the end.
using ScanLines = std::function<bool(std::string *line)>;

// The first `capacity` complete blocks (address, signal, SSID and primary
// channel) in out, strongest first, equal qualities in scan order; reading
// stops once capacity blocks were taken. out's records must be cleared.
// Returns the number filled.
int CollectScanList(const ScanLines &lines, WifiInfo *out, int capacity);

// The first complete block whose decoded SSID is ssid, into out; false
// (out untouched) when none.
bool FindScanSsid(const ScanLines &lines, const char *ssid, WifiInfo *out);

// Quality 0 to 100 of a scan's signal in dBm: twice (100 - magnitude).
int ScanQuality(double dbm);

// Quality 0 to 100 of the link's signal in dBm.
int LinkQuality(long dbm);

}  // namespace zq::wifi
