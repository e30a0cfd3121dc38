// The Wi-Fi unit's process-wide state.
#include "net/wifi_state.h"

namespace zq::wifi {

WifiState g_WifiState{};

}  // namespace zq::wifi
