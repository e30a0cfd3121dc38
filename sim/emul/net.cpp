// board.json's "net" section: reading the interfaces and the test-facing
// edits of them.
#include "emul/net.h"

#include <json-c/json.h>

#include <algorithm>

#include "emul/json_util.h"

namespace zq::sim {
namespace {

bool json_bool(json_object *obj, const char *key, bool fallback) {
    json_object *v = json_get(obj, key);
    return json_object_is_type(v, json_type_boolean) ? json_object_get_boolean(v) != 0 : fallback;
}

NetRoute route_from_json(json_object *row) {
    NetRoute r;
    r.destination = json_string(row, "destination", "0.0.0.0");
    r.gateway = json_string(row, "gateway", "0.0.0.0");
    r.mask = json_string(row, "mask", "0.0.0.0");
    r.flags = json_get(row, "flags") ? static_cast<int>(json_number(row, "flags", 0)) : -1;
    r.metric = static_cast<int>(json_int64(row, "metric", 0));
    r.mtu = static_cast<int>(json_int64(row, "mtu", 0));
    r.window = static_cast<unsigned>(json_int64(row, "window", 0));
    r.irtt = static_cast<unsigned>(json_int64(row, "irtt", 0));
    return r;
}

NetInterface interface_from_json(json_object *entry) {
    NetInterface i;
    i.name = json_string(entry, "name", "");
    i.mac = json_string(entry, "mac", "");
    i.ipv4 = json_string(entry, "ipv4", "");
    i.netmask = json_string(entry, "netmask", "");
    i.up = json_bool(entry, "up", true);
    i.loopback = json_bool(entry, "loopback", false);
    i.monitor = json_bool(entry, "monitor", false);
    i.wireless = json_bool(entry, "wireless", false);
    i.phy = static_cast<int>(json_int64(entry, "phy", 0));
    i.mtu = static_cast<int>(json_int64(entry, "mtu", 1500));
    json_object *routes = json_get(entry, "routes");
    size_t n = json_object_is_type(routes, json_type_array) ? json_object_array_length(routes) : 0;
    for (size_t k = 0; k < n; ++k)
        i.routes.push_back(route_from_json(json_object_array_get_idx(routes, k)));
    return i;
}

void add_string(json_object *obj, const char *key, const std::string &value) {
    if (!value.empty()) json_object_object_add(obj, key, json_object_new_string(value.c_str()));
}

json_object *route_json(const NetRoute &r) {
    json_object *row = json_object_new_object();
    add_string(row, "destination", r.destination);
    add_string(row, "gateway", r.gateway);
    add_string(row, "mask", r.mask);
    if (r.flags >= 0) json_object_object_add(row, "flags", json_object_new_int(r.flags));
    json_object_object_add(row, "metric", json_object_new_int(r.metric));
    json_object_object_add(row, "mtu", json_object_new_int(r.mtu));
    json_object_object_add(row, "window", json_object_new_int64(r.window));
    json_object_object_add(row, "irtt", json_object_new_int64(r.irtt));
    return row;
}

json_object *interface_json(const NetInterface &i) {
    json_object *entry = json_object_new_object();
    json_object_object_add(entry, "name", json_object_new_string(i.name.c_str()));
    json_object_object_add(entry, "mac", json_object_new_string(i.mac.c_str()));
    add_string(entry, "ipv4", i.ipv4);
    add_string(entry, "netmask", i.netmask);
    json_object_object_add(entry, "up", json_object_new_boolean(i.up));
    if (i.loopback) json_object_object_add(entry, "loopback", json_object_new_boolean(1));
    if (i.monitor) json_object_object_add(entry, "monitor", json_object_new_boolean(1));
    if (i.wireless) {
        json_object_object_add(entry, "wireless", json_object_new_boolean(1));
        json_object_object_add(entry, "phy", json_object_new_int(i.phy));
    }
    json_object_object_add(entry, "mtu", json_object_new_int(i.mtu));
    json_object *routes = json_object_new_array();
    for (const NetRoute &r : i.routes) json_object_array_add(routes, route_json(r));
    json_object_object_add(entry, "routes", routes);
    return entry;
}

// The "net.interfaces" array of root, made when missing.
json_object *interface_array(json_object *root) {
    return json_member(json_member(root, "net", json_type_object), "interfaces", json_type_array);
}

// The "net.interfaces" array with each entry replaced by what rewrite returns.
template <typename Rewrite>
void rewrite_interfaces(json_object *root, Rewrite rewrite) {
    rewrite_array(json_member(root, "net", json_type_object), "interfaces", rewrite);
}

}  // namespace

std::vector<NetInterface> net_interfaces(json_object *root) {
    std::vector<NetInterface> out;
    json_object *array = json_get(json_get(root, "net"), "interfaces");
    size_t n = json_object_is_type(array, json_type_array) ? json_object_array_length(array) : 0;
    for (size_t k = 0; k < n; ++k) {
        NetInterface i = interface_from_json(json_object_array_get_idx(array, k));
        if (usable_interface_name(i.name)) out.push_back(std::move(i));
    }
    return out;
}

void set_interface_json(json_object *root, const NetInterface &iface) {
    bool replaced = false;
    rewrite_interfaces(root, [&](json_object *entry) {
        if (json_string(entry, "name", "") != iface.name) return json_object_get(entry);
        replaced = true;
        return interface_json(iface);
    });
    if (!replaced) json_object_array_add(interface_array(root), interface_json(iface));
}

void remove_interface_json(json_object *root, const std::string &name) {
    rewrite_interfaces(root, [&](json_object *entry) -> json_object * {
        return json_string(entry, "name", "") == name ? nullptr : json_object_get(entry);
    });
}

// The name becomes a directory of sys/class/net and a quoted word of the
// ifconfig script, so it must be a plain word.
bool usable_interface_name(const std::string &name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\'' || static_cast<unsigned char>(c) <= ' ' || c == 0x7F;
    });
}

}  // namespace zq::sim
