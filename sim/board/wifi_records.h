// What the fake Wi-Fi tools that keep running (supplicant, access point,
// DHCP client and server, DNS responder) record in board.json's
// "wifi.running", so that other tools and tests see the board's state: the
// station's link, the running access point, the DHCP server's pool.
#pragma once

#include <map>
#include <string>
#include <vector>

struct json_object;

namespace zq::sim {

struct ToolRecord {
    std::string tool;       // "wpa_supplicant", "hostapd", "udhcpc", "udhcpd", "dnsd"
    int pid = 0;            // the process; the record counts only while it runs on the board
    std::string interface;  // empty for tools without one
    std::map<std::string, std::string> fields;  // what the tool set up, as text
};

// The records of tools still running on the board at dir.
std::vector<ToolRecord> running_tools(const std::string &dir);
// The running record of tool on interface (any interface when empty); false when none.
bool running_tool(const std::string &dir, const std::string &tool, const std::string &interface,
                  ToolRecord *record);

// Replaces the record of the same tool and interface (and drops those of ended processes).
void set_tool_record(json_object *root, const std::string &dir, const ToolRecord &record);

}  // namespace zq::sim
