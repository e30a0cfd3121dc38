// What the Wi-Fi unit takes from its callers: network names, passphrases,
// and addresses, checked before anything is killed or written.
#pragma once

#include <cstddef>
#include <string>

namespace zq::wifi {

// 1 to 32 bytes (what the daemons' parsers take), none of them a control
// character (a line break would add a directive to a daemon's
// configuration). Other bytes, UTF-8 included, are kept as they are. At
// most `capacity` bytes are looked at.
bool usable_ssid(const char *ssid, size_t capacity);

// Empty (an open network), or 8 to 63 printable ASCII characters: the WPA
// passphrase rule of both daemons.
bool usable_passphrase(const char *passphrase, size_t capacity);

// A four-part dotted IPv4 address that reads back to the same text (no
// leading zeros, signs, blanks or anything after it), not 255.255.255.255.
// prefix gets the text up to and including its last '.'.
bool plain_ipv4(const char *text, size_t capacity, std::string *prefix);

}  // namespace zq::wifi
