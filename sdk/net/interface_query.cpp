// Queries about one network interface: its addresses (ZQSDK_WifiGetEthAttr),
// whether it exists (CheckEthExist) and the mode of the Wi-Fi interface
// (GetEthMode). Nothing is cached; every call reads the kernel afresh.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "net/wifi_command.h"
#include "net/wifi_state.h"
#include "port/port.h"
#include "zq_log.h"
#include "zq_net.h"

namespace zq::wifi {
namespace {

namespace port = zq::port;

constexpr size_t kLineSize = 128;  // lines, paths and commands of at most 127 characters
constexpr size_t kMacLength = 17;  // "02:5a:51:3e:08:12"

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

void chop_newline(char *line) {
    size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
}

void put_address(char (&field)[16], in_addr_t networkOrder) {
    struct in_addr address {};
    address.s_addr = networkOrder;
    // inet_ntop rather than inet_ntoa: no shared buffer, any thread may ask.
    inet_ntop(AF_INET, &address, field, sizeof field);
}

// Copies the gateway of name's first routing row into gateway (left empty
// when name has no row); false when the routing table cannot be read.
bool read_gateway(const char *name, char (&gateway)[16]) {
    char routePath[PATH_MAX], routeWord[2 * PATH_MAX], command[2 * PATH_MAX + 64];
    if (port::host_path("/proc/net/route", routePath, sizeof routePath) != 0) return false;
    // One shell word: a board directory with a blank or a quote in its name
    // stays one path, never shell text.
    if (put_shell_word(routePath, routeWord, sizeof routeWord) >= sizeof routeWord) return false;
    const int length = std::snprintf(command, sizeof command,
                                     "cat %s | awk '{print $1,$3,$4,$7,$8,$9}'", routeWord);
    if (length < 0 || static_cast<size_t>(length) >= sizeof command) return false;
    FILE *pipe = port::popen(command, "r");
    if (!pipe) return false;
    char line[kLineSize];
    while (std::fgets(line, sizeof line, pipe)) {
        chop_newline(line);
        if (std::strstr(line, "Iface")) continue;
        // Columns: interface, gateway (as the kernel prints a network-order
        // address), flags, metric, mask, MTU; only the first two matter.
        char iface[kLineSize];
        unsigned long gatewayValue = 0;
        if (std::sscanf(line, "%127s %lx", iface, &gatewayValue) < 2) continue;
        if (std::strcmp(iface, name) != 0) continue;
        put_address(gateway, static_cast<in_addr_t>(gatewayValue));
        break;
    }
    port::pclose(pipe);
    return true;
}

// Copies the first 17 characters of the first non-empty line of the address
// file into mac; false when the file cannot be opened.
bool read_mac(const char *path, char (&mac)[18]) {
    FILE *file = port::fopen(path, "r");
    if (!file) return false;
    char line[kLineSize];
    while (std::fgets(line, sizeof line, file)) {
        chop_newline(line);
        if (line[0] == '\0') continue;
        size_t n = strnlen(line, kMacLength);
        std::memcpy(mac, line, n);
        mac[n] = '\0';
        break;
    }
    port::fclose(file);
    return true;
}

// The address and netmask requests; false (errno set) when one is refused.
bool read_addresses(int sock, const char *name, EthAttr &attr) {
    struct ifreq request {};
    // The name was checked to be shorter than IFNAMSIZ, so it stays terminated.
    std::memcpy(request.ifr_name, name, strnlen(name, IFNAMSIZ - 1));
    struct sockaddr_in address {};
    if (port::ioctl(sock, SIOCGIFADDR, &request) < 0) return false;
    std::memcpy(&address, &request.ifr_addr, sizeof address);
    put_address(attr.szIp, address.sin_addr.s_addr);
    if (port::ioctl(sock, SIOCGIFNETMASK, &request) < 0) return false;
    std::memcpy(&address, &request.ifr_netmask, sizeof address);
    put_address(attr.szNetmask, address.sin_addr.s_addr);
    return true;
}

}  // namespace

bool is_interface_name(const char *name) {
    size_t length = strnlen(name, IFNAMSIZ);
    if (length == 0 || length >= IFNAMSIZ) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    return std::all_of(name, name + length, is_name_char);
}

int CheckEthExist(const char *name) {
    if (!name) return -1;
    // The empty name tests the directory itself: before initialisation the
    // mode is judged from the first interface listed.
    if (name[0] != '\0' && !is_interface_name(name)) return -1;
    char path[48];  // "/sys/class/net/" and a name of up to 15 characters
    std::snprintf(path, sizeof path, "/sys/class/net/%.15s", name);
    return port::access(path, F_OK) == 0 ? 0 : -1;
}

int GetEthMode() {
    // Read over its whole width: a name that fills it has no terminator.
    char name[sizeof g_WifiState.g_EthName + 1] = {};
    std::memcpy(name, g_WifiState.g_EthName, sizeof g_WifiState.g_EthName);
    if (CheckEthExist(name) != 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "Eth name ivalid, %s\n", name);
        return -1;
    }
    char command[kLineSize];
    int length = std::snprintf(command, sizeof command, "ifconfig -a %s | grep \"%s\"", name, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof command) return -1;
    FILE *pipe = port::popen(command, "r");
    if (!pipe) return -1;
    int mode = WIFI_MODE_MANAGED;
    char line[kLineSize];
    while (std::fgets(line, sizeof line, pipe)) {
        chop_newline(line);
        const char *hwaddr = std::strstr(line, "HWaddr");
        if (!hwaddr) continue;
        // A monitor interface lists a hardware address longer than a MAC.
        char address[kLineSize] = "";
        std::sscanf(hwaddr, " HWaddr %127s", address);
        mode = std::strlen(address) > kMacLength ? WIFI_MODE_MONITOR : WIFI_MODE_MANAGED;
        break;
    }
    port::pclose(pipe);
    return mode;
}

}  // namespace zq::wifi

extern "C" int ZQSDK_WifiGetEthAttr(const char *name, EthAttr *attr) noexcept {
    if (!name || !attr) return -1;
    std::memset(attr, 0, sizeof *attr);
    if (!zq::wifi::read_gateway(name, attr->szGateway)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "open file /proc/net/route failed\n");
        return -1;
    }
    char macPath[zq::wifi::kLineSize];
    std::snprintf(macPath, sizeof macPath, "/sys/class/net/%s/address", name);
    // A name no interface can have never reaches a file ("eth2/../eth0"
    // would read another interface's address) nor the address requests.
    if (!zq::wifi::is_interface_name(name) || !zq::wifi::read_mac(macPath, attr->szMac)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "wifi", "open %s failed\n", macPath);
        return -1;
    }
    int sock = zq::port::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        std::perror("create socket failed:");
        return -1;
    }
    bool filled = zq::wifi::read_addresses(sock, name, *attr);
    if (!filled) std::perror("ioctl SIOCGIFBRDADDR error");
    zq::port::close(sock);
    return filled ? 0 : -1;
}
