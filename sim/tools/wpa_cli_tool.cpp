// wpa_cli: talks to the board's wpa_supplicant through what its control
// interface would tell (the supplicant's record). "status" and "ping" answer
// as the real ones do; -a ACTION runs the action file at every completed
// association (CONNECTED) and every loss of it (DISCONNECTED), as the real
// one does from the supplicant's events, and ends when the supplicant no
// longer answers its ping.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/wifi_records.h"
#include "tools/tool.h"

namespace zq::sim::tools {
namespace {

// Board seconds: how often the supplicant's events are looked for, and the
// ping interval (-G) after which a silent supplicant counts as gone.
constexpr double kEventPoll = 0.2, kPingInterval = 5;

// The supplicant this wpa_cli reaches: one running on the interface whose
// control directory is the one given (a board path, or a host path inside
// the board).
bool reach(const Tool &tool, const std::string &interface, const std::string &controlDir,
           ToolRecord *found) {
    std::string dir = board_terms(tool, controlDir);
    for (ToolRecord &r : running_tools(tool.dir))
        if (r.tool == "wpa_supplicant" && r.interface == interface && !dir.empty() &&
            r.fields["ctrl_interface"] == dir) {
            *found = std::move(r);
            return true;
        }
    return false;
}

// The action loop: runs the action file on every change of the link, until
// the supplicant it attached to is gone.
void watch(const Tool &tool, const std::string &interface, const std::string &controlDir,
           const std::string &action, int supplicant, double pingInterval) {
    bool connected = false;
    std::string lastId;
    for (double silent = 0;;) {
        ToolRecord now;
        bool answers = reach(tool, interface, controlDir, &now) && now.pid == supplicant;
        if (!answers && silent >= pingInterval) break;
        bool completed = answers && now.fields["state"] == "completed";
        if (completed && (!connected || now.fields["id"] != lastId)) {
            lastId = now.fields["id"];
            run_script(tool, action, {interface, "CONNECTED"},
                       {"WPA_ID=" + lastId, "WPA_ID_STR=" + now.fields["id_str"],
                        "WPA_CTRL_DIR=" + controlDir});
        } else if (answers && !completed && connected) {
            run_script(tool, action, {interface, "DISCONNECTED"}, {});
        }
        connected = answers ? completed : connected;
        if (!board_wait(tool, kEventPoll)) return;
        silent = answers ? 0 : silent + kEventPoll;
    }
    std::printf("wpa_supplicant did not reply to PING command - exiting\n");
    note(tool, "%s: supplicant gone, stopped watching", interface.c_str());
}

}  // namespace

// "wpa_cli [-i IF] [-p DIR] [-G SECONDS] [-a ACTION [-B]] [status|ping]" (-P
// is taken and has no effect).
int wpa_cli_main(Tool &tool) {
    Options o;
    if (!parse_options(tool, "aipPG", "Bhvr", SIZE_MAX,
                       "usage: wpa_cli [-p<path to ctrl sockets>] [-i<ifname>] [-hvBr] "
                       "[-a<action file>] [-P<pid file>] [-G<ping interval>] [command..]",
                       &o) ||
        (!o.has('a') && o.operands.empty()))
        return 255;
    std::string interface = o.get('i'), controlDir = o.get('p', "/var/run/wpa_supplicant");
    ToolRecord link;
    if (interface.empty() || !reach(tool, interface, controlDir, &link)) {
        std::fprintf(stderr,
                     "Failed to connect to non-global ctrl_ifname: %s  error: No such file or "
                     "directory\n",
                     interface.empty() ? "(nil)" : interface.c_str());
        return 255;
    }
    if (!o.has('a')) {
        const std::string &command = o.operands[0];
        if (command == "ping") return std::printf("PONG\n") < 0;
        if (command != "status") {
            std::printf("Unknown command '%s'\n", command.c_str());
            return 1;
        }
        if (link.fields["state"] != "completed") return std::printf("wpa_state=SCANNING\n") < 0;
        std::printf("bssid=%s\nfreq=%s\nssid=%s\nid=%s\nmode=station\nwpa_state=COMPLETED\n",
                    link.fields["bssid"].c_str(), link.fields["freq"].c_str(),
                    link.fields["ssid"].c_str(), link.fields["id"].c_str());
        return 0;
    }
    std::string action;
    if (!path_argument(tool, o.get('a'), &action)) return 255;
    if (start(tool, o.has('B'), [&] {
            note(tool, "%s: watching the supplicant's events for %s", interface.c_str(),
                 board_terms(tool, action).c_str());
        }))
        return 0;
    // As the real one reads -G: a whole number of seconds, atoi's.
    const int ping = o.has('G') ? std::atoi(o.get('G').c_str()) : 0;
    watch(tool, interface, controlDir, action, link.pid, ping > 0 ? ping : kPingInterval);
    return 0;
}

}  // namespace zq::sim::tools
