// Sockets of family AF_INET: the interface address requests, answered from
// board.json's "net" section as the kernel answers them.
#include <arpa/inet.h>
#include <json-c/json.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/net.h"

namespace zq::sim {
namespace {

// The address the request asks for, or the errno the kernel answers with.
int interface_address(const char *name, unsigned long request, struct in_addr *out) {
    json_object *root = board_json();
    std::vector<NetInterface> interfaces = net_interfaces(root);
    json_object_put(root);
    for (const NetInterface &i : interfaces) {
        if (i.name != name) continue;
        if (i.ipv4.empty()) return EADDRNOTAVAIL;
        std::string text = request == SIOCGIFADDR ? i.ipv4
                           : i.netmask.empty()    ? "255.255.255.255"
                                                  : i.netmask;
        return inet_pton(AF_INET, text.c_str(), out) == 1 ? 0 : EADDRNOTAVAIL;
    }
    return ENODEV;
}

int inet_ioctl(int, unsigned long request, void *arg) {
    if (request != SIOCGIFADDR && request != SIOCGIFNETMASK) return fail(ENOTTY);
    if (!arg) return fail(EFAULT);
    auto req = record_of<struct ifreq>(arg);
    // The kernel reads at most IFNAMSIZ - 1 characters of the name.
    req.ifr_name[IFNAMSIZ - 1] = '\0';
    struct sockaddr_in address {};
    address.sin_family = AF_INET;
    if (int error = interface_address(req.ifr_name, request, &address.sin_addr)) return fail(error);
    std::memcpy(&req.ifr_addr, &address, sizeof address);
    std::memcpy(arg, &req, sizeof req);
    return 0;
}

}  // namespace

extern const Device kInetSocket = {"socket:inet", 0, inet_ioctl};

}  // namespace zq::sim
