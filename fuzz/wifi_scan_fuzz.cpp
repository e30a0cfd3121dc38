// Scan output of any bytes (what an access point can put in the air ends up
// in it): the parser and the SSID decoder must stay inside their records
// and leave every text terminated, qualities within 0 to 100.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "net/wifi_scan.h"

namespace {

bool terminated(const WifiInfo &info) {
    return std::memchr(info.szBssid, 0, sizeof info.szBssid) &&
           std::memchr(info.szSsid, 0, sizeof info.szSsid) && info.s32Quality >= 0 &&
           info.s32Quality <= 100;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const int capacity = data[0] % 8 + 1;
    std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    auto lines_of = [](std::string_view all) {
        return [all](std::string *line) mutable {
            if (all.empty()) return false;
            size_t end = all.find('\n');
            *line = std::string(all.substr(0, end));
            all.remove_prefix(end == std::string_view::npos ? all.size() : end + 1);
            return true;
        };
    };
    std::vector<WifiInfo> list(static_cast<size_t>(capacity));
    int filled = zq::wifi::CollectScanList(lines_of(text), list.data(), capacity);
    if (filled < 0 || filled > capacity) std::abort();
    for (int i = 0; i < filled; ++i)
        if (!terminated(list[static_cast<size_t>(i)]) ||
            (i > 0 && list[static_cast<size_t>(i)].s32Quality >
                          list[static_cast<size_t>(i - 1)].s32Quality))
            std::abort();
    WifiInfo found{};
    if (zq::wifi::FindScanSsid(lines_of(text), "Net", &found) && !terminated(found)) std::abort();
    char decoded[128];
    zq::wifi::DecodeSsid(text, decoded);
    if (!std::memchr(decoded, 0, sizeof decoded)) std::abort();
    return 0;
}
