// Channel and link: ZQSDK_WifiSwitchChannel and ZQSDK_WifiGetLocalInfo.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "net/wifi_command.h"
#include "net/wifi_kill.h"
#include "net/wifi_scan.h"
#include "net/wifi_state.h"
#include "port/port.h"
#include "zq_log.h"
#include "zq_wifi.h"

namespace zq::wifi {
namespace {

constexpr const char *kWpaConf = "/var/wifi/wpa.conf";
constexpr size_t kKeyMgmtExamined = 9;

std::string_view without_indent(std::string_view line) {
    size_t at = line.find_first_not_of(" \t");
    return at == std::string_view::npos ? std::string_view() : line.substr(at);
}

// The quoted value of a line `key="..."` (up to its last quote, as the
// supplicant reads it) into field; nothing when the line is not one.
template <size_t N>
void quoted_value(std::string_view line, std::string_view key, char (&field)[N]) {
    std::string_view text = without_indent(line);
    if (text.substr(0, key.size()) != key) return;
    text.remove_prefix(key.size());
    size_t close = text.rfind('"');
    if (close != std::string_view::npos) text = text.substr(0, close);
    if (text.empty()) return;
    size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// The link's quality: the first "signal:" line, or 0 when not connected.
int link_quality(FILE *pipe) {
    for (std::string line; read_line(pipe, &line);) {
        size_t at = line.find("signal:");
        if (at == std::string::npos) continue;
        const char *number = line.c_str() + at + 7;
        char *end = nullptr;
        long dbm = std::strtol(number, &end, 10);
        return end == number ? 0 : LinkQuality(dbm);
    }
    return 0;
}

}  // namespace
}  // namespace zq::wifi

using namespace zq::wifi;

extern "C" int ZQSDK_WifiSwitchChannel(int channel) noexcept {
    if (!WIFI_READY_IN_MODE(WIFI_MODE_MONITOR)) return -1;
    int refused;
    {
        std::lock_guard<std::mutex> hold(g_WifiState.g_ScanMutex);
        KillIwProcess();
        refused = run_command(compose({tool_word("/iw"), " dev ", g_WifiState.g_EthName,
                                       " set channel ", std::to_string(channel)}));
    }
    // iw refuses a channel the radio does not have (200, -5): no change.
    if (refused != 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Set channel %d failed\n", channel);
        return -1;
    }
    ZQSDK_LOG(ZQ_LOG_INFO, "wifi", "Set channel %d\n", channel);
    return 0;
}

extern "C" int ZQSDK_WifiGetLocalInfo(WifiInfo *info) noexcept {
    if (!info) return -1;
    if (!WIFI_READY_IN_MODE(WIFI_MODE_MANAGED)) return -1;
    std::memset(info, 0, sizeof *info);
    const std::string command =
        compose({tool_word("/iw"), " dev ", g_WifiState.g_EthName, " link"});
    {
        std::lock_guard<std::mutex> hold(g_WifiState.g_ScanMutex);
        FILE *pipe = command.empty() ? nullptr : open_pipeline(command);
        if (!pipe) {
            ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "popen %s failed, %s\n", command.c_str(),
                      std::strerror(command.empty() ? ENAMETOOLONG : errno));
            return -1;
        }
        info->s32Quality = link_quality(pipe);
        close_pipeline(pipe);
    }
    FILE *conf = zq::port::fopen(kWpaConf, "rb");
    if (!conf) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "open file %s failed, %s\n", kWpaConf,
                  std::strerror(errno));
        return -1;
    }
    for (std::string line; read_line(conf, &line);) {
        if (line.find("ssid") != std::string::npos) quoted_value(line, "ssid=\"", info->szSsid);
        if (line.find("psk") != std::string::npos) quoted_value(line, "psk=\"", info->szPsk);
        std::string_view text = without_indent(line);
        if (text.substr(0, 9) == "key_mgmt=") {
            std::string_view value = text.substr(9);
            value = value.substr(0, std::min(value.find_first_of(" \t"), kKeyMgmtExamined));
            info->bOpen = value.find("NONE") != std::string_view::npos ? 1 : 0;
        }
    }
    zq::port::fclose(conf);
    return 0;
}
