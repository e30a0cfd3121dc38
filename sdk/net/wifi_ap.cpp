// Access-point mode: ZQSDK_WifiCreateAp.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "net/wifi_command.h"
#include "net/wifi_config_file.h"
#include "net/wifi_input.h"
#include "net/wifi_kill.h"
#include "net/wifi_state.h"
#include "net/wifi_station.h"
#include "port/port.h"
#include "zq_log.h"
#include "zq_wifi.h"

namespace zq::wifi {
namespace {

constexpr const char *kHostapdConf = "/var/wifi/hostapd.conf";
constexpr const char *kUdhcpdConf = "/var/wifi/udhcpd.conf";
constexpr int kAdapterWithScanHold = 3;

// The access point's address plan: its address and the text before its
// host number ("192.168.5.").
struct AddressPlan {
    std::string address;
    std::string prefix;
};

bool write_hostapd_config(const WifiApParam &param, const std::string &iface) {
    std::string tool = std::string(g_WifiState.g_ConfigPath) + "/hostapd.conf";
    if (CopyConfigFile(tool.c_str(), kHostapdConf) != 0 ||
        WriteConfigFile(kHostapdConf, "interface", "=", iface.c_str(), nullptr) != 0 ||
        WriteConfigFile(kHostapdConf, "ssid", "=", param.szSsid, nullptr) != 0)
        return false;
    if (param.szPasswd[0] != '\0') {
        if (WriteConfigFile(kHostapdConf, "wpa", "=", "2", nullptr) != 0 ||
            WriteConfigFile(kHostapdConf, "wpa_passphrase", "=", param.szPasswd, nullptr) != 0)
            return false;
    } else {
        // "wpa" without a delimiter takes every "wpa..." line with it.
        for (const char *key : {"wpa", "rsn_pairwise", "wpa_passphrase"})
            if (WriteConfigFile(kHostapdConf, key, nullptr, nullptr, nullptr) != 0) return false;
    }
    // As given: which channels there are depends on the template's hw_mode,
    // which hostapd knows and checks; a refusal is the start's failure.
    std::string channel = param.s32Channel == 0 ? "6" : std::to_string(param.s32Channel);
    return WriteConfigFile(kHostapdConf, "channel", "=", channel.c_str(), nullptr) == 0;
}

bool write_udhcpd_config(const std::string &iface, const AddressPlan *plan) {
    std::string tool = std::string(g_WifiState.g_ConfigPath) + "/udhcpd.conf";
    // busybox's udhcpd reads "keyword value" only: an "interface=wlan0"
    // line is skipped, and the server then serves its default, eth0.
    if (CopyConfigFile(tool.c_str(), kUdhcpdConf) != 0 ||
        WriteConfigFile(kUdhcpdConf, "interface", " ", iface.c_str(), nullptr) != 0)
        return false;
    if (!plan) return true;
    const std::string start = plan->prefix + "20", end = plan->prefix + "254";
    return WriteConfigFile(kUdhcpdConf, "start", " ", start.c_str(), nullptr) == 0 &&
           WriteConfigFile(kUdhcpdConf, "end", " ", end.c_str(), nullptr) == 0 &&
           WriteConfigFile(kUdhcpdConf, "dns", " ", plan->address.c_str(), nullptr) == 0 &&
           WriteConfigFile(kUdhcpdConf, "router", " ", plan->address.c_str(), nullptr) == 0;
}

// Address, network route and daemons; false when hostapd did not start.
bool start_access_point(const std::string &iface, const AddressPlan *plan) {
    const std::string address = plan ? plan->address : "192.168.10.1";
    const std::string network = plan ? plan->prefix + "0" : "192.168.10.0";
    run_command("ifconfig " + iface + " " + address + " netmask 255.255.255.0");
    run_command("route add -net " + network + " netmask 255.255.255.0 dev " + iface);
    if (run_command(compose(
            {tool_word("/hostapd"), " ", board_word("/var/wifi", "/hostapd.conf"), " -B"})) != 0)
        return false;
    run_command(compose({"udhcpd -fS ", board_word("/var/wifi", "/udhcpd.conf"), " &"}));
    if (zq::port::access("/sbin/dnsd", F_OK) == 0 && zq::port::access("/etc/dnsd.conf", F_OK) == 0)
        run_command(compose({"dnsd -c ", board_word("/etc/dnsd.conf"), "&"}));
    return true;
}

}  // namespace
}  // namespace zq::wifi

using namespace zq::wifi;

extern "C" int ZQSDK_WifiCreateAp(const WifiApParam *param) noexcept {
    if (!param) return -1;
    if (!WIFI_READY_IN_MODE(WIFI_MODE_MANAGED)) return -1;
    if (param->szSsid[0] == '\0') {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: ssid is null\n");
        return -1;
    }
    // Everything the caller gave is checked before anything is killed or
    // written: these values become lines of a root daemon's configuration.
    if (!usable_ssid(param->szSsid, sizeof param->szSsid)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: ssid invalid\n");
        return -1;
    }
    if (!usable_passphrase(param->szPasswd, sizeof param->szPasswd)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Error: password invalid\n");
        return -1;
    }
    AddressPlan plan;
    const bool ownAddress = param->szIp[0] != '\0';
    if (ownAddress) {
        if (!plain_ipv4(param->szIp, sizeof param->szIp, &plan.prefix)) {
            ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "IP addr invaled, %.*s\n",
                      static_cast<int>(strnlen(param->szIp, sizeof param->szIp)), param->szIp);
            return -1;
        }
        plan.address = param->szIp;
    }
    // The mode lock keeps mode switches and new station connections out
    // while the files are written; a connection already waiting needs no
    // lock to give up.
    std::lock_guard<std::mutex> hold(g_WifiState.g_ModeMutex);
    const std::string iface = g_WifiState.g_EthName;
    // The station's DHCP client goes too: left running it would renew or
    // deconfigure the interface under the access point, or lease from it.
    ProcKillList kills = MakeKillList({{"wpa_supplicant", nullptr},
                                       {"udhcpc", iface.c_str()},
                                       {"hostapd", nullptr},
                                       {"udhcpd", nullptr}});
    KillProcessList(&kills);
    AbandonStationWait();
    // A file that could not be written ends the call before anything
    // starts: the daemons would otherwise run on the template's settings (an
    // open access point, another address plan).
    if (!write_hostapd_config(*param, iface) ||
        !write_udhcpd_config(iface, ownAddress ? &plan : nullptr)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Access point configuration failed\n");
        return -1;
    }
    if (!start_access_point(iface, ownAddress ? &plan : nullptr)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Start hostapd failed\n");
        return -1;
    }
    if (g_WifiState.g_EthType == kAdapterWithScanHold && g_WifiState.g_ApStartMs == 0)
        g_WifiState.g_ApStartMs = GetMonotonicMs();
    return 0;
}
