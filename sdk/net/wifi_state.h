// The Wi-Fi unit's module state and the interface checks every Wi-Fi
// operation makes before acting.
#pragma once

#include "zq_common.h"

namespace zq::wifi {

struct WifiState {
    char g_EthName[32];      // Wi-Fi interface; empty while the module is not initialised
    char g_ConfigPath[128];  // tool directory given at initialisation
    s32 g_EthType;           // adapter type; 0 = not set
};

// One instance per process, zero at start.
extern WifiState g_WifiState;

// 0 when interface name exists, -1 when it does not, when name is null, or
// when it is not a name an interface can have (too long for the kernel, or
// with a character that the shell or a path would read as syntax). The empty
// name tests "/sys/class/net/" itself and so passes.
int CheckEthExist(const char *name);

// WIFI_MODE_MANAGED or WIFI_MODE_MONITOR for the interface g_EthName, as its
// ifconfig listing shows it; -1 when the name is invalid or the listing
// cannot be run.
int GetEthMode();

}  // namespace zq::wifi
