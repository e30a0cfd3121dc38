// ifconfig's settings and route: they change board.json "net", from which
// the board's interface files, routing table and ifconfig listing follow.
// Their errors are busybox's.
#include <json-c/json.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "emul/board.h"
#include "emul/json_util.h"
#include "tools/tool.h"

namespace zq::sim::tools {
namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

// The netmask the kernel gives an address set without one (its class).
uint32_t classful_mask(uint32_t address) {
    if (address >> 31 == 0) return 0xFF000000u;
    if (address >> 30 == 2) return 0xFFFF0000u;
    return 0xFFFFFF00u;
}

uint32_t value_of(const std::string &dottedText) {
    uint32_t v = 0;
    return ipv4_value(dottedText, &v) ? v : 0;
}

bool contiguous_mask(uint32_t mask) {
    return (~mask & (~mask + 1)) == 0;
}

// Keeps the routing table in the kernel's order: by destination.
void insert_route(NetInterface &i, const NetRoute &route) {
    auto at = std::find_if(i.routes.begin(), i.routes.end(), [&](const NetRoute &r) {
        return value_of(r.destination) > value_of(route.destination);
    });
    i.routes.insert(at, route);
}

// The prefix route the kernel adds for an interface's address.
void add_prefix_route(NetInterface &i) {
    if (i.ipv4.empty() || !i.up) return;
    uint32_t mask = i.netmask.empty() ? kAllOnes : value_of(i.netmask);
    NetRoute r;
    r.destination = dotted(value_of(i.ipv4) & mask);
    r.mask = dotted(mask);
    insert_route(i, r);
}

// The tool's complaint, as busybox makes it.
int fail(const Tool &tool, const std::string &message) {
    std::fprintf(stderr, "%s: %s\n", tool.name.c_str(), message.c_str());
    return 1;
}

// Applies "ifconfig IF SETTINGS..." to i; an empty result, else busybox's complaint.
std::string apply_ifconfig(const std::vector<std::string> &a, NetInterface &i) {
    bool addressChanged = false, wasUp = i.up;
    for (size_t k = 1; k < a.size(); ++k) {
        uint32_t v = 0;
        const std::string &word = a[k];
        bool hasValue = k + 1 < a.size();
        if (word == "up") {
            i.up = true;
        } else if (word == "down") {
            i.up = false;
        } else if ((word == "netmask" || word == "broadcast") && hasValue) {
            if (!ipv4_value(a[++k], &v)) return "bad address '" + a[k] + "'";
            if (word == "netmask") {
                if (!contiguous_mask(v)) return "SIOCSIFNETMASK: Invalid argument";
                i.netmask = a[k];
                addressChanged = true;
            }
        } else if (word == "mtu" && hasValue) {
            long mtu = std::strtol(a[++k].c_str(), nullptr, 10);
            if (mtu < 68 || mtu > 65535) return "SIOCSIFMTU: Invalid argument";
            i.mtu = static_cast<int>(mtu);
        } else if (ipv4_value(word, &v)) {
            if (v == 0) {
                i.ipv4.clear();
                i.netmask.clear();
            } else {
                i.ipv4 = word;
                if (i.netmask.empty() || !addressChanged) i.netmask = dotted(classful_mask(v));
                i.up = true;  // an address brings the interface up
            }
            addressChanged = true;
        } else {
            return "bad address '" + word + "'";
        }
    }
    // The kernel drops an interface's routes when it goes down or its
    // address changes, and adds the prefix route of its address.
    if (addressChanged || !i.up) i.routes.clear();
    if ((addressChanged || !wasUp) && i.up) add_prefix_route(i);
    return {};
}

}  // namespace

// "ifconfig IF [up|down] [ADDR] [netmask M] [broadcast B] [mtu N]": the
// listing forms stay in the generated bin/ifconfig.
int ifconfig_main(Tool &tool) {
    const std::vector<std::string> &a = tool.args;
    if (a.empty()) return fail(tool, "settings need an interface");
    std::string complaint = "SIOCGIFFLAGS: No such device";
    NetInterface changed;
    // Read and changed under the board's lock: other tools edit it too.
    bool stored = edit_board(tool.dir, [&](json_object *root) {
        for (NetInterface &i : net_interfaces(root)) {
            if (i.name != a[0]) continue;
            complaint = apply_ifconfig(a, i);
            if (complaint.empty()) set_interface_json(root, i);
            changed = i;
        }
    });
    if (!complaint.empty()) return fail(tool, complaint);
    if (!stored) return fail(tool, "board.json cannot be changed");
    note(tool, "%s %s address %s netmask %s", changed.name.c_str(), changed.up ? "up" : "down",
         changed.ipv4.empty() ? "none" : changed.ipv4.c_str(),
         changed.netmask.empty() ? "none" : changed.netmask.c_str());
    return 0;
}

namespace {

// "route [-n]": the kernel's table as route prints it.
int route_list(Tool &tool) {
    std::printf(
        "Kernel IP routing table\n"
        "Destination     Gateway         Genmask         Flags Metric Ref    Use Iface\n");
    for (const NetInterface &i : interfaces(tool)) {
        for (const NetRoute &r : i.routes) {
            std::string flags = "U";
            if (r.gateway != "0.0.0.0") flags += "G";
            if (r.mask == "255.255.255.255") flags += "H";
            std::printf("%-15s %-15s %-15s %-5s %-6d %-6d %3d %s\n", r.destination.c_str(),
                        r.gateway.c_str(), r.mask.c_str(), flags.c_str(), r.metric, 0, 0,
                        i.name.c_str());
        }
    }
    return 0;
}

struct RouteRequest {
    bool add = true;
    uint32_t target = 0, mask = 0, gateway = 0;
    bool hasGateway = false, hasMask = false;
    std::string device;
};

bool parse_route(const std::vector<std::string> &a, RouteRequest *r, std::string *why) {
    r->add = a[0] == "add";
    size_t k = 1;
    if (k < a.size() && a[k] == "-net") ++k;
    if (k >= a.size()) return *why = "wants a target", false;
    if (a[k] == "default") {
        r->hasMask = true;
    } else if (!ipv4_value(a[k], &r->target)) {
        return *why = "resolving " + a[k] + ": bad address", false;
    }
    for (++k; k < a.size(); ++k) {
        const std::string &word = a[k];
        bool hasValue = k + 1 < a.size();
        if (word == "netmask" && hasValue) {
            if (!ipv4_value(a[++k], &r->mask) || !contiguous_mask(r->mask))
                return *why = "bad netmask " + a[k], false;
            r->hasMask = true;
        } else if (word == "gw" && hasValue) {
            if (!ipv4_value(a[++k], &r->gateway))
                return *why = "resolving " + a[k] + ": bad address", false;
            r->hasGateway = r->gateway != 0;
        } else if (word == "dev" && hasValue) {
            r->device = a[++k];
        } else {
            return *why = "bad argument '" + word + "'", false;
        }
    }
    if (r->device.empty()) return *why = "wants dev IF", false;
    if (!r->hasMask) r->mask = r->target ? classful_mask(r->target) : 0;
    if (r->target & ~r->mask) return *why = "netmask and route address conflict", false;
    return true;
}

bool on_link(const NetInterface &i, uint32_t address) {
    if (i.ipv4.empty() || !i.up) return false;
    uint32_t mask = i.netmask.empty() ? kAllOnes : value_of(i.netmask);
    return (value_of(i.ipv4) & mask) == (address & mask);
}

// Adds or deletes the route on i; an empty result, else the kernel's
// complaint as route prints it.
std::string change_route(const RouteRequest &request, const NetRoute &route, NetInterface &i) {
    auto same = [&](const NetRoute &r) {
        return value_of(r.destination) == request.target && value_of(r.mask) == request.mask &&
               (!request.hasGateway || value_of(r.gateway) == request.gateway);
    };
    if (request.add) {
        if (!i.up) return "SIOCADDRT: Network is down";
        if (request.hasGateway && !on_link(i, request.gateway))
            return "SIOCADDRT: Network is unreachable";
        if (std::any_of(i.routes.begin(), i.routes.end(), same)) return "SIOCADDRT: File exists";
        insert_route(i, route);
        return {};
    }
    auto gone = std::find_if(i.routes.begin(), i.routes.end(), same);
    if (gone == i.routes.end()) return "SIOCDELRT: No such process";
    i.routes.erase(gone);
    return {};
}

}  // namespace

// "route add|del [-net] TARGET|default [netmask M] [gw G] dev IF"
int route_main(Tool &tool) {
    const std::vector<std::string> &a = tool.args;
    if (a.empty() || a[0] == "-n" || a[0] == "-e") return route_list(tool);
    if (a[0] != "add" && a[0] != "del") return fail(tool, "bad command '" + a[0] + "'");
    RouteRequest request;
    std::string why;
    if (!parse_route(a, &request, &why)) return fail(tool, why);
    NetRoute route;
    route.destination = dotted(request.target);
    route.mask = dotted(request.mask);
    route.gateway = dotted(request.gateway);
    std::string complaint = request.add ? "SIOCADDRT" : "SIOCDELRT";
    complaint += ": No such device";
    bool stored = edit_board(tool.dir, [&](json_object *root) {
        for (NetInterface &i : net_interfaces(root))
            if (i.name == request.device && (complaint = change_route(request, route, i)).empty())
                set_interface_json(root, i);
    });
    if (!complaint.empty()) return fail(tool, complaint);
    if (!stored) return fail(tool, "board.json cannot be changed");
    note(tool, "%s %s/%s gateway %s dev %s", request.add ? "added" : "deleted",
         route.destination.c_str(), route.mask.c_str(), route.gateway.c_str(),
         request.device.c_str());
    return 0;
}

}  // namespace zq::sim::tools
