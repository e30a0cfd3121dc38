// Checks of caller-supplied network names, passphrases and addresses.
#include "net/wifi_input.h"

#include <cstdio>
#include <cstring>

namespace zq::wifi {

bool usable_ssid(const char *ssid, size_t capacity) {
    if (!ssid) return false;
    size_t length = strnlen(ssid, capacity);
    if (length == 0 || length > 32) return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(ssid[i]);
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

bool usable_passphrase(const char *passphrase, size_t capacity) {
    if (!passphrase) return true;
    size_t length = strnlen(passphrase, capacity);
    if (length == 0) return true;
    if (length < 8 || length > 63) return false;
    for (size_t i = 0; i < length; ++i)
        if (passphrase[i] < 0x20 || passphrase[i] > 0x7E) return false;
    return true;
}

bool plain_ipv4(const char *text, size_t capacity, std::string *prefix) {
    size_t length = strnlen(text, capacity);
    if (length == capacity || length > 15) return false;
    unsigned part[4];
    char extra;
    if (std::sscanf(text, "%3u.%3u.%3u.%3u%c", &part[0], &part[1], &part[2], &part[3], &extra) != 4)
        return false;
    char readBack[20];
    std::snprintf(readBack, sizeof readBack, "%u.%u.%u.%u", part[0], part[1], part[2], part[3]);
    if (std::strcmp(readBack, text) != 0) return false;
    for (unsigned p : part)
        if (p > 255) return false;
    if (std::strcmp(text, "255.255.255.255") == 0) return false;
    *prefix = std::string(text, std::strrchr(text, '.') + 1);
    return true;
}

}  // namespace zq::wifi
