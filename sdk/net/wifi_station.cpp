// Station mode: ZQSDK_WifiConnectSTA and the abandon handshake.
#include "net/wifi_station.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "net/wifi_command.h"
#include "net/wifi_config_file.h"
#include "net/wifi_input.h"
#include "net/wifi_kill.h"
#include "net/wifi_state.h"
#include "port/port.h"
#include "zq_log.h"
#include "zq_wifi.h"

namespace zq::wifi {
namespace {

constexpr const char *kWpaConf = "/var/wifi/wpa.conf";
constexpr const char *kWpaLog = "/var/tmp/wpa_log";
constexpr const char *kWpaState = "/var/tmp/wpa_state";
constexpr const char *kAddressMarker = "/var/ipisconfig";
constexpr int kAssociationPolls = 60;
constexpr int kAddressPolls = 30;
constexpr int kStateComplete = 9;

enum : int { kJoined = 0, kRefused = -1, kLogFailure = -2, kAbandoned = 1 };

// Claims the station for one connection; false while another holds it.
bool claim_station() {
    std::lock_guard<std::mutex> hold(g_WifiState.g_StaMutex);
    if (g_WifiState.g_StaConnecting.load()) return false;
    g_WifiState.g_StaAbort.store(0);
    g_WifiState.g_StaConnecting.store(1);
    return true;
}

// Ends the claim; a requester polling for it sees the generation move on.
void finish_station() {
    std::lock_guard<std::mutex> hold(g_WifiState.g_StaMutex);
    g_WifiState.g_StaConnecting.store(0);
    g_WifiState.g_StaAbort.store(0);
    ++g_WifiState.g_StaGeneration;
}

bool abandon_requested() {
    return g_WifiState.g_StaAbort.load() != 0;
}

// atoi of the first 3 characters of a small board file; 0 when unreadable.
int small_number(FILE *file) {
    char text[4] = {};
    size_t got = std::fread(text, 1, 3, file);
    text[got] = '\0';
    return std::atoi(text);
}

int station_state() {
    FILE *&kept = g_WifiState.g_WpaStateFile;
    if (!kept) kept = zq::port::fopen(kWpaState, "r");
    if (!kept) return 0;
    std::rewind(kept);
    return small_number(kept);
}

// One reading of the supplicant log: -2 at the second handshake failure or
// when it cannot be opened, 0 otherwise.
int read_supplicant_log() {
    FILE *log = zq::port::fopen(kWpaLog, "r");
    if (!log) {
        std::printf("open file %s, %s", kWpaLog, std::strerror(errno));
        std::fflush(stdout);
        return kLogFailure;
    }
    int failures = 0;
    for (std::string line; read_line(log, &line);) {
        if (line.find("CTRL-EVENT-CONNECTED") != std::string::npos) break;
        if (line.find("WPA: 4-Way Handshake failed") != std::string::npos && ++failures == 2) break;
    }
    zq::port::fclose(log);
    return failures == 2 ? kLogFailure : 0;
}

// The association wait: 0 on state 9 or after the last poll, else the result.
int wait_for_association() {
    for (int poll = 0; poll < kAssociationPolls; ++poll) {
        if (abandon_requested()) return kAbandoned;
        if (int log = read_supplicant_log(); log != 0) return log;
        if (station_state() == kStateComplete) return 0;
        zq::port::sleep_ms(1000);
    }
    return 0;
}

int wait_for_address() {
    for (int poll = 0; poll < kAddressPolls; ++poll) {
        if (abandon_requested()) return kAbandoned;
        if (FILE *marker = zq::port::fopen(kAddressMarker, "r")) {
            int value = small_number(marker);
            zq::port::fclose(marker);
            if (value == 1) return kJoined;
        }
        if (poll + 1 < kAddressPolls) zq::port::sleep_ms(1000);
    }
    return kRefused;
}

// The working configuration from the template; false when a step failed
// (the supplicant would otherwise join the template's network).
bool write_station_config(const char *ssid, const char *passphrase) {
    std::string tool = std::string(g_WifiState.g_ConfigPath) + "/wpa_wpa2.conf";
    if (CopyConfigFile(tool.c_str(), kWpaConf) != 0) return false;
    if (WriteConfigFile(kWpaConf, "ssid", "=", ssid, "\"\"") != 0) return false;
    if (passphrase && *passphrase)
        return WriteConfigFile(kWpaConf, "psk", "=", passphrase, "\"\"") == 0;
    for (const char *key : {"scan_ssid", "pairwise", "group", "psk"})
        if (WriteConfigFile(kWpaConf, key, nullptr, nullptr, nullptr) != 0) return false;
    return WriteConfigFile(kWpaConf, "key_mgmt", "=", "NONE", nullptr) == 0;
}

void start_station_tools(const std::string &iface) {
    run_command("ifconfig " + iface + " 0.0.0.0");
    run_command(compose({tool_word("/wpa_supplicant"), " -i", iface, " -Dnl80211 -f ",
                         board_word(kWpaLog), " -c ", board_word(kWpaConf), " -B"}));
    zq::port::sleep_ms(3000);
    run_command(compose({"udhcpc -i ", iface, " -s ", tool_word("/udhcpc.script"), " >",
                         board_word("/var/tmp/udhcpc_log"), "&"}));
}

}  // namespace

void AbandonStationWait() {
    std::unique_lock<std::mutex> hold(g_WifiState.g_StaMutex);
    if (!g_WifiState.g_StaConnecting.load()) return;
    g_WifiState.g_StaAbort.store(1);
    const uint64_t asked = g_WifiState.g_StaGeneration;
    while (g_WifiState.g_StaConnecting.load() && g_WifiState.g_StaGeneration == asked) {
        hold.unlock();
        zq::port::sleep_ms(30);
        hold.lock();
    }
}

}  // namespace zq::wifi

using namespace zq::wifi;

extern "C" int ZQSDK_WifiConnectSTA(const char *pSsid, const char *pPasswd) noexcept {
    if (!pSsid) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: ssid id null\n");
        return -1;
    }
    if (!interface_set()) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "%s", kNoInterfaceMessage);
        return -1;
    }
    if (!usable_ssid(pSsid, 33)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: ssid invalid\n");
        return -1;
    }
    if (!usable_passphrase(pPasswd, 64)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: password invalid\n");
        return -1;
    }
    std::unique_lock<std::mutex> setUp(g_WifiState.g_ModeMutex);
    if (GetEthMode() != WIFI_MODE_MANAGED) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Net card is not in managed mode\n");
        return -1;
    }
    // Claimed under the mode lock: an access point being made holds it, so
    // no connection starts while that one abandons the waiting one.
    if (!claim_station()) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Station connect already running\n");
        return -1;
    }
    const std::string iface = g_WifiState.g_EthName;
    g_WifiState.g_ApStartMs = 0;
    ProcKillList kills = MakeKillList({{"wpa_supplicant", nullptr},
                                       {"udhcpc", iface.c_str()},
                                       {"hostapd", nullptr},
                                       {"udhcpd", nullptr},
                                       {"dnsd", nullptr}});
    KillProcessList(&kills);
    run_command(compose({"echo '' >", board_word(kAddressMarker)}));
    run_command(compose({"echo '0' >", board_word(kWpaState)}));
    run_command(compose({"echo '' >", board_word(kWpaLog)}));
    int result = kRefused;
    if (write_station_config(pSsid, pPasswd)) {
        start_station_tools(iface);
        setUp.unlock();
        result = wait_for_association();
        if (result == 0) result = wait_for_address();
    } else {
        setUp.unlock();
    }
    if (result != kJoined) {
        ProcKillList ours = MakeKillList({{"wpa_supplicant", nullptr}, {"udhcpc", iface.c_str()}});
        KillProcessList(&ours);
    }
    // Only now: a requester goes on (and may forget the interface) once the
    // connection's own clean-up is done.
    finish_station();
    return result;
}
