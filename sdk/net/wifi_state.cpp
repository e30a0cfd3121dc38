// The Wi-Fi unit's process-wide state.
#include "net/wifi_state.h"

#include "port/port.h"
#include "zq_log.h"
#include "zq_net.h"

namespace zq::wifi {

WifiState g_WifiState{};

bool interface_set() {
    return g_WifiState.g_EthName[0] != '\0';
}

bool ready_in_mode(int mode, const char *function, int line) {
    if (!interface_set()) {
        sdk_log(ZQ_LOG_ERROR, "wifi", function, line, "%s", kNoInterfaceMessage);
        return false;
    }
    if (GetEthMode() == mode) return true;
    sdk_log(ZQ_LOG_ERROR, "wifi", function, line,
            mode == WIFI_MODE_MONITOR ? "Net card is not in monitor mode\n"
                                      : "Net card is not in managed mode\n");
    return false;
}

int64_t GetMonotonicMs() {
    return static_cast<int64_t>(zq::port::monotonic_ns() / 1000000u);
}

}  // namespace zq::wifi
