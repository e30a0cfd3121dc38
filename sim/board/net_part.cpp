// The board files that follow from board.json's "net" section:
// sys/class/net/<if>/address, proc/net/route and the ifconfig tool bin/ifconfig.
#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "board/parts.h"
#include "board/tool_scripts.h"
#include "emul/board.h"
#include "emul/file_util.h"
#include "emul/net.h"

namespace zq::sim {
namespace {

namespace fs = std::filesystem;

constexpr const char *kWlan0Mac = "02:5a:51:3e:08:20";  // locally administered

constexpr unsigned kRouteUp = 0x1, kRouteGateway = 0x2, kRouteHost = 0x4;

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// An address as the kernel holds it (network order in memory), 0 for junk.
uint32_t address_value(const std::string &dotted) {
    struct in_addr address {};
    return inet_pton(AF_INET, dotted.c_str(), &address) == 1 ? address.s_addr : 0;
}

// sys/class/net/<if>/address for every interface; directories of
// interfaces that are gone are removed.
bool sync_class_net(const std::string &dir, const std::vector<NetInterface> &interfaces,
                    std::string *error) {
    fs::path classNet = dir + "/sys/class/net";
    std::set<std::string> names;
    for (const NetInterface &i : interfaces) names.insert(i.name);
    std::error_code ec;
    fs::create_directories(classNet, ec);
    for (const fs::directory_entry &entry : fs::directory_iterator(classNet, ec))
        if (!names.count(entry.path().filename().string())) fs::remove_all(entry.path(), ec);
    for (const NetInterface &i : interfaces) {
        fs::create_directories(classNet / i.name, ec);
        if (!write_file_whole((classNet / i.name / "address").string(), lower(i.mac) + "\n", 0644,
                              error))
            return false;
        // Only wireless interfaces have a radio (phy80211) behind them.
        fs::path phy = classNet / i.name / "phy80211";
        if (!i.wireless) {
            fs::remove_all(phy, ec);
            continue;
        }
        fs::create_directories(phy, ec);
        if (!write_file_whole((phy / "index").string(), std::to_string(i.phy) + "\n", 0644, error))
            return false;
    }
    return true;
}

// The kernel pads every line of the table to 127 characters.
std::string padded_line(const char *text) {
    std::string line(text);
    if (line.size() < 127) line.append(127 - line.size(), ' ');
    return line + '\n';
}

std::string route_table(const std::vector<NetInterface> &interfaces) {
    std::string table = padded_line(
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT");
    for (const NetInterface &i : interfaces) {
        for (const NetRoute &r : i.routes) {
            uint32_t gateway = address_value(r.gateway), mask = address_value(r.mask);
            unsigned flags = r.flags >= 0 ? static_cast<unsigned>(r.flags)
                                          : kRouteUp | (gateway ? kRouteGateway : 0) |
                                                (mask == 0xFFFFFFFFu ? kRouteHost : 0);
            char row[160];
            std::snprintf(row, sizeof row, "%s\t%08X\t%08X\t%04X\t%d\t%u\t%d\t%08X\t%d\t%u\t%u",
                          i.name.c_str(), address_value(r.destination), gateway, flags, 0, 0u,
                          r.metric, mask, r.mtu, r.window, r.irtt);
            table += padded_line(row);
        }
    }
    return table;
}

bool all_zero_mac(const std::string &mac) {
    return mac.find_first_not_of("0:") == std::string::npos;
}

// One interface as the board's ifconfig lists it.
std::string ifconfig_block(const NetInterface &i) {
    std::string encap = i.loopback ? "Local Loopback" : i.monitor ? "UNSPEC" : "Ethernet";
    std::string hwaddr;
    if (i.monitor) {
        // The radiotap address: the MAC and ten zero bytes, dash-separated.
        hwaddr = upper(i.mac) + "-00-00-00-00-00-00-00-00-00-00";
        for (char &c : hwaddr) c = c == ':' ? '-' : c;
    } else if (!i.loopback && !all_zero_mac(i.mac)) {
        hwaddr = upper(i.mac);
    }
    char head[64];
    std::snprintf(head, sizeof head, "%-9s Link encap:", i.name.c_str());
    std::string text = head + encap + "  " + (hwaddr.empty() ? "" : "HWaddr " + hwaddr + "  ");
    text += "\n";
    if (!i.ipv4.empty()) {
        std::string mask = i.netmask.empty() ? "255.255.255.255" : i.netmask;
        text += "          inet addr:" + i.ipv4 + " ";
        if (!i.loopback) {
            struct in_addr bcast {};
            bcast.s_addr = address_value(i.ipv4) | ~address_value(mask);
            char dotted[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &bcast, dotted, sizeof dotted);
            text += std::string(" Bcast:") + dotted + " ";
        }
        text += " Mask:" + mask + "\n";
    }
    std::string flags = i.up ? "UP " : "";
    flags += i.loopback ? "LOOPBACK " : "BROADCAST ";
    if (i.up) flags += "RUNNING ";
    if (!i.loopback) flags += "MULTICAST ";
    text += "          " + flags + " MTU:" + std::to_string(i.mtu) + "  Metric:1\n";
    text +=
        "          RX packets:0 errors:0 dropped:0 overruns:0 frame:0\n"
        "          TX packets:0 errors:0 dropped:0 overruns:0 carrier:0\n"
        "          collisions:0 txqueuelen:1000 \n"
        "          RX bytes:0 (0.0 B)  TX bytes:0 (0.0 B)\n"
        "\n";
    return text;
}

// The ifconfig script: every interface's listing in it; settings go to the
// board's tool program, which changes board.json and so this script.
std::string ifconfig_script(const std::vector<NetInterface> &interfaces) {
    std::string cases, all, up;
    for (const NetInterface &i : interfaces) {
        cases += "    '" + i.name + "') cat <<'ZQ_IFCONFIG_END'\n" + ifconfig_block(i) +
                 "ZQ_IFCONFIG_END\n        ;;\n";
        all += " '" + i.name + "'";
        if (i.up) up += " '" + i.name + "'";
    }
    return fill_template("ifconfig", {{"@CASES@", cases},
                                      {"@ALL@", all},
                                      {"@UP@", up},
                                      {"@EXEC@", board_tool_exec("ifconfig")}});
}

bool net_sync(const std::string &dir, json_object *root, std::string *error) {
    std::vector<NetInterface> interfaces = net_interfaces(root);
    std::error_code ec;
    fs::create_directories(dir + "/proc/net", ec);
    fs::create_directories(dir + "/bin", ec);
    if (!sync_class_net(dir, interfaces, error) ||
        !write_file_whole(dir + "/proc/net/route", route_table(interfaces), 0644, error))
        return false;
    return write_file_whole(dir + "/bin/ifconfig", ifconfig_script(interfaces), 0755, error);
}

}  // namespace

extern const BoardPart kNetPart;
const BoardPart kNetPart = {"net", nullptr, net_sync};

bool set_interface(const std::string &dir, const NetInterface &iface) {
    if (!usable_interface_name(iface.name)) return false;
    return edit_board(dir, [&](json_object *root) { set_interface_json(root, iface); });
}

bool remove_interface(const std::string &dir, const std::string &name) {
    return edit_board(dir, [&](json_object *root) { remove_interface_json(root, name); });
}

}  // namespace zq::sim
