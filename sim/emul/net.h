// The board's network interfaces, as board.json's "net" section holds them:
// the part that derives /sys/class/net, /proc/net/route and the ifconfig
// tool from it, the socket emulator that answers address requests from it,
// and the test-facing functions that change it.
#pragma once

#include <string>
#include <vector>

struct json_object;

namespace zq::sim {

// One row of the routing table, as /proc/net/route lists it.
struct NetRoute {
    std::string destination = "0.0.0.0";
    std::string gateway = "0.0.0.0";  // "0.0.0.0": directly reachable
    std::string mask = "0.0.0.0";
    int flags = -1;  // RTF_* bits; -1: as the kernel derives them (up, gateway, host)
    int metric = 0;
    int mtu = 0;
    unsigned window = 0;
    unsigned irtt = 0;
};

struct NetInterface {
    std::string name;
    std::string mac;      // as the kernel prints it, "02:5a:51:3e:08:12"; any text is kept
    std::string ipv4;     // empty: the interface has no IPv4 address
    std::string netmask;  // empty with an address: 255.255.255.255
    bool up = true;
    bool loopback = false;
    bool monitor = false;   // a Wi-Fi interface in monitor mode (ifconfig lists a long address)
    bool wireless = false;  // a Wi-Fi interface: it has sys/class/net/<if>/phy80211/index
    int phy = 0;            // the index of its radio (phyN)
    int mtu = 1500;
    std::vector<NetRoute> routes;  // in the order /proc/net/route lists them
};

// The interfaces of a board.json, in order; entries without a usable name
// (empty, ".", "..", or with '/', a quote or white space) are left out.
std::vector<NetInterface> net_interfaces(json_object *root);

// Adds the interface, or replaces the one of the same name in its place.
bool set_interface(const std::string &dir, const NetInterface &iface);
// The same on a board.json being made or edited.
void set_interface_json(json_object *root, const NetInterface &iface);
// Removes the interface with its routes and board files.
bool remove_interface(const std::string &dir, const std::string &name);
void remove_interface_json(json_object *root, const std::string &name);
// Empty, ".", "..", or with '/', a quote or white space: no interface's name.
bool usable_interface_name(const std::string &name);

}  // namespace zq::sim
