// The Wi-Fi unit's process-wide state.
#include "net/wifi_state.h"

#include "port/port.h"

namespace zq::wifi {

WifiState g_WifiState{};

bool interface_set() {
    return g_WifiState.g_EthName[0] != '\0';
}

int64_t GetMonotonicMs() {
    return static_cast<int64_t>(zq::port::monotonic_ns() / 1000000u);
}

}  // namespace zq::wifi
