// The Wi-Fi life cycle: ZQSDK_WifiInit, ZQSDK_WifiSwitchMode, ZQSDK_WifiExit.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "net/wifi_command.h"
#include "net/wifi_kill.h"
#include "net/wifi_state.h"
#include "net/wifi_station.h"
#include "port/port.h"
#include "zq_log.h"
#include "zq_wifi.h"

namespace zq::wifi {
namespace {

// The tool directory's files ZQSDK_WifiInit requires, in the order checked.
constexpr const char *kToolFiles[] = {"/iw",           "/wpa_supplicant", "/hostapd",
                                      "/hostapd.conf", "/wpa_wpa2.conf",  "/udhcpd.conf",
                                      "/udhcpc.script"};

void prepare_directories() {
    run_command(compose({"rm ", board_link_word("/dev/random")}));
    run_command(
        compose({"ln -s ", board_word("/dev/urandom"), " ", board_link_word("/dev/random")}));
    for (const char *dir : {"/var/wifi", "/var/tmp", "/var/run/hostapd", "/var/run/wpa_supplicant"})
        run_command(compose({"mkdir -p ", board_word(dir)}));
}

// The PHY number of the interface, from its first 3 characters; -1 when the
// index file cannot be read.
int phy_index(const std::string &iface) {
    std::string path = "/sys/class/net/" + iface + "/phy80211/index";
    FILE *file = zq::port::fopen(path.c_str(), "rb");
    if (!file) return -1;
    char text[4] = {};
    size_t got = std::fread(text, 1, 3, file);
    zq::port::fclose(file);
    text[got] = '\0';
    int index = std::atoi(text);
    return index < 0 ? -1 : index;
}

void rebuild_interface(const std::string &iface, int phy, const char *type) {
    run_command(compose({tool_word("/iw"), " dev ", iface, " del"}));
    run_command(compose({tool_word("/iw"), " phy phy", std::to_string(phy), " interface add ",
                         iface, " type ", type}));
}

}  // namespace
}  // namespace zq::wifi

using namespace zq::wifi;

extern "C" int ZQSDK_WifiInit(const char *pEthName, const char *pConfigPath, int type) noexcept {
    // Refused before anything is killed: "udhcpc" with an empty or odd
    // argument would take other clients, and a tool directory that does not
    // fit would be cut into another directory.
    if (!pEthName || !pConfigPath || !is_interface_name(pEthName) ||
        strnlen(pConfigPath, sizeof g_WifiState.g_ConfigPath) >= sizeof g_WifiState.g_ConfigPath ||
        zq::port::access(pConfigPath, F_OK) != 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Set path error: pEthName %s pConfigPath %s\n",
                  pEthName ? pEthName : "(null)", pConfigPath ? pConfigPath : "(null)");
        return -1;
    }
    ProcKillList kills = MakeKillList({{"wpa_supplicant", nullptr},
                                       {"udhcpc", pEthName},
                                       {"hostapd", nullptr},
                                       {"udhcpd", nullptr},
                                       {"iw", nullptr}});
    KillProcessList(&kills);
    std::memset(g_WifiState.g_EthName, 0, sizeof g_WifiState.g_EthName);
    std::snprintf(g_WifiState.g_ConfigPath, sizeof g_WifiState.g_ConfigPath, "%s", pConfigPath);
    prepare_directories();
    for (const char *file : kToolFiles) {
        std::string path = std::string(pConfigPath) + file;
        if (zq::port::access(path.c_str(), F_OK) != 0) {
            ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Tools Error: %s not exist\n", path.c_str());
            return -1;
        }
    }
    if (CheckEthExist(pEthName) != 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Eth name ivalid, %s\n", pEthName);
        return -1;
    }
    std::snprintf(g_WifiState.g_EthName, sizeof g_WifiState.g_EthName, "%s", pEthName);
    run_command(compose({"ifconfig ", pEthName, " up"}));
    if (type != 0)
        g_WifiState.g_EthType = type;
    else
        ZQSDK_LOG(ZQ_LOG_WARN, "wifi", "Eth type have not setting!\n");
    ZQSDK_LOG(ZQ_LOG_INFO, "wifi", "Wifi Init success\n");
    return 0;
}

extern "C" int ZQSDK_WifiSwitchMode(unsigned mode) noexcept {
    if (!interface_set() || mode > WIFI_MODE_MONITOR) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Argure Error: g_EthName %s type %d\n",
                  g_WifiState.g_EthName, static_cast<int>(mode));
        return -1;
    }
    std::lock_guard<std::mutex> hold(g_WifiState.g_ModeMutex);
    const int wanted = static_cast<int>(mode);
    if (GetEthMode() == wanted) return 0;
    ProcKillList kills = MakeKillList({{"wpa_supplicant", nullptr},
                                       {"hostapd", nullptr},
                                       {"udhcpd", nullptr},
                                       {"dnsd", nullptr},
                                       {"iw", nullptr}});
    KillProcessList(&kills);
    const std::string iface = g_WifiState.g_EthName;
    const int phy = phy_index(iface);
    if (phy < 0) return -1;
    if (wanted == WIFI_MODE_MONITOR) {
        rebuild_interface(iface, phy, "monitor");
        zq::port::sleep_ms(1000);
        run_command("ifconfig " + iface + " up");
        ZQSDK_LOG(ZQ_LOG_INFO, "wifi", "Switch wifi monitor mode\n");
    } else {
        zq::port::sleep_ms(100);
        run_command("ifconfig " + iface + " down");
        rebuild_interface(iface, phy, "managed");
        zq::port::sleep_ms(1000);
        run_command("ifconfig " + iface + " up");
        run_command(compose({"echo \"0\" > ", board_word("/var/tmp/wpa_state")}));
        ZQSDK_LOG(ZQ_LOG_INFO, "wifi", "Switch wifi managed mode\n");
    }
    // The tools' results are not read; the interface itself tells whether
    // the switch took.
    if (GetEthMode() != wanted) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Switch wifi mode %d failed\n", wanted);
        return -1;
    }
    return 0;
}

extern "C" int ZQSDK_WifiExit(void) noexcept {
    AbandonStationWait();
    // Without an interface nothing of ours runs: "udhcpc" with an empty
    // argument would be every client on the board.
    if (interface_set()) {
        if (GetEthMode() == WIFI_MODE_MONITOR) ZQSDK_WifiSwitchMode(WIFI_MODE_MANAGED);
        ProcKillList kills = MakeKillList({{"wpa_supplicant", nullptr},
                                           {"udhcpc", g_WifiState.g_EthName},
                                           {"hostapd", nullptr},
                                           {"udhcpd", nullptr},
                                           {"dnsd", nullptr},
                                           {"iw", nullptr}});
        KillProcessList(&kills);
    }
    {
        std::lock_guard<std::mutex> hold(g_WifiState.g_ModeMutex);
        std::memset(g_WifiState.g_ConfigPath, 0, sizeof g_WifiState.g_ConfigPath);
        std::memset(g_WifiState.g_EthName, 0, sizeof g_WifiState.g_EthName);
        g_WifiState.g_ApStartMs = 0;
        g_WifiState.g_EthType = 0;
    }
    ZQSDK_LOG(ZQ_LOG_INFO, "wifi", "Wifi exit success\n");
    return 0;
}
