// The Wi-Fi unit's module state and the interface checks every Wi-Fi
// operation makes before acting.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "zq_common.h"

namespace zq::wifi {

struct WifiState {
    char g_EthName[32];      // Wi-Fi interface; empty while the module is not initialised
    char g_ConfigPath[128];  // tool directory given at initialisation, always terminated
    s32 g_EthType;           // adapter type; 0 = not set
    int64_t g_ApStartMs;     // when the access point of adapter type 3 started; 0 = none

    // The abandon handshake between a waiting station connection and the
    // operations that end it. The flags change only under g_StaMutex, so a
    // request can never be lost between a check and a set; each finished
    // connection moves g_StaGeneration on, so that a requester waits for the
    // connection it asked, never for the next one.
    std::atomic<s32> g_StaConnecting;  // 1 from the claim of a connection to its finish
    std::atomic<s32> g_StaAbort;       // 1: the waiting connection is asked to give up
    uint64_t g_StaGeneration;
    std::mutex g_StaMutex;

    std::mutex g_ModeMutex;  // mode switches, station set-up and access-point set-up
    std::mutex g_ProcMutex;  // the killers' walks of "/proc"
    std::mutex g_ScanMutex;  // one "iw" run (scan, channel) at a time in this process

    FILE *g_WpaStateFile;  // "/var/tmp/wpa_state", kept open once opened
};

// One instance per process, zero at start.
extern WifiState g_WifiState;

// Whether an interface is set (the module is initialised). The other
// operations refuse to run without one: an empty name in a command would
// reach every interface, and "udhcpc" with an empty argument every client.
bool interface_set();
// The ERROR text of that refusal.
inline constexpr const char *kNoInterfaceMessage = "Wifi is not initialised\n";

// Whether an operation may act: an interface is set and in mode (managed or
// monitor). Otherwise the refusal is logged under the operation's own name
// and line, and false returned. Use WIFI_READY_IN_MODE.
bool ready_in_mode(int mode, const char *function, int line);
#define WIFI_READY_IN_MODE(mode) ::zq::wifi::ready_in_mode((mode), __func__, __LINE__)

// Interface names go into paths and shell commands, so only plain ones are
// taken: 1 to 15 characters (the kernel's limit), letters, digits, '.', '-'
// and '_', and never "." or "..".
bool is_interface_name(const char *name);

// 0 when interface name exists, -1 when it does not, when name is null, or
// when it is not a name an interface can have (too long for the kernel, or
// with a character that the shell or a path would read as syntax). The empty
// name tests "/sys/class/net/" itself and so passes.
int CheckEthExist(const char *name);

// WIFI_MODE_MANAGED or WIFI_MODE_MONITOR for the interface g_EthName, as its
// ifconfig listing shows it; -1 when the name is invalid or the listing
// cannot be run.
int GetEthMode();

// Milliseconds on the board's monotonic clock.
int64_t GetMonotonicMs();

}  // namespace zq::wifi
