// wpa_cli: talks to the board's wpa_supplicant through what its control
// interface would tell (the supplicant's record). "status" and "ping" answer
// as the real ones do; -a ACTION runs the action file at every completed
// association (CONNECTED) and every loss of it (DISCONNECTED), as the real
// one does from the supplicant's events, and ends when the supplicant no
// longer answers its ping.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/tool.h"
#include "board/wifi_records.h"

namespace zq::sim::tools {
namespace {

// Board seconds: how often the supplicant's events are looked for.
constexpr double kEventPoll = 0.2;

struct Options {
    std::string interface, controlDir = "/var/run/wpa_supplicant", action, pidFile;
    bool background = false;
    double pingInterval = 5;
    std::vector<std::string> command;
};

bool parse_options(const std::vector<std::string> &args, Options *o) {
    const std::string withValue = "aiGpPgs";
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string &a = args[k];
        if (a.size() < 2 || a[0] != '-') {
            o->command.assign(args.begin() + static_cast<long>(k), args.end());
            return true;
        }
        char option = a[1];
        if (option == 'B' && a.size() == 2) {
            o->background = true;
            continue;
        }
        if (withValue.find(option) == std::string::npos) return false;
        std::string value = a.size() > 2 ? a.substr(2) : k + 1 < args.size() ? args[++k] : "";
        if (value.empty()) return false;
        if (option == 'a') o->action = value;
        if (option == 'i') o->interface = value;
        if (option == 'p') o->controlDir = value;
        if (option == 'P') o->pidFile = value;
        if (option == 'G') o->pingInterval = std::atof(value.c_str());
        if (option == 'g' || option == 's') return false;  // no global or client socket here
    }
    return true;
}

// The supplicant this wpa_cli reaches: one running on the interface whose
// control directory is the one given (a board path, or a host path inside
// the board).
bool reach(const Tool &tool, const Options &o, ToolRecord *found) {
    std::string dir = board_terms(tool, o.controlDir);
    for (ToolRecord &r : running_tools(tool.dir))
        if (r.tool == "wpa_supplicant" && r.interface == o.interface &&
            !r.fields["ctrl_interface"].empty() && r.fields["ctrl_interface"] == dir) {
            *found = std::move(r);
            return true;
        }
    return false;
}

int status(const ToolRecord &link) {
    auto field = [&](const char *name) {
        auto at = link.fields.find(name);
        return at == link.fields.end() ? std::string() : at->second;
    };
    if (field("state") == "completed") {
        std::printf("bssid=%s\nfreq=%s\nssid=%s\nid=%s\nmode=station\nwpa_state=COMPLETED\n",
                    field("bssid").c_str(), field("freq").c_str(), field("ssid").c_str(),
                    field("id").c_str());
    } else {
        std::printf("wpa_state=SCANNING\n");
    }
    return 0;
}

// The action loop: runs the action file on every change of the link, until
// the supplicant it attached to is gone.
int watch(Tool &tool, const Options &o, const std::string &action, int supplicant) {
    bool connected = false;
    std::string lastId;
    double sincePing = 0;
    for (;;) {
        ToolRecord now;
        bool answers = reach(tool, o, &now) && now.pid == supplicant;
        if (!answers && sincePing >= o.pingInterval) {
            std::printf("wpa_supplicant did not reply to PING command - exiting\n");
            note(tool, "%s: supplicant gone, stopped watching", o.interface.c_str());
            return 0;
        }
        if (answers && now.fields["state"] == "completed" &&
            (!connected || now.fields["id"] != lastId)) {
            connected = true;
            lastId = now.fields["id"];
            run_script(tool, action, {o.interface, "CONNECTED"},
                       {"WPA_ID=" + lastId, "WPA_ID_STR=" + now.fields["id_str"],
                        "WPA_CTRL_DIR=" + o.controlDir});
        } else if (answers && now.fields["state"] != "completed" && connected) {
            connected = false;
            run_script(tool, action, {o.interface, "DISCONNECTED"}, {});
        }
        if (!board_wait(tool, kEventPoll)) return 0;
        sincePing = answers ? 0 : sincePing + kEventPoll;
    }
}

}  // namespace

int wpa_cli_main(Tool &tool) {
    Options o;
    if (!parse_options(tool.args, &o) || (o.action.empty() && o.command.empty())) {
        std::fprintf(stderr,
                     "usage: wpa_cli [-p<path to ctrl sockets>] [-i<ifname>] [-hvBr] "
                     "[-a<action file>] [-P<pid file>] [-G<ping interval>] [command..]\n");
        return 255;
    }
    ToolRecord link;
    if (o.interface.empty() || !reach(tool, o, &link)) {
        std::fprintf(stderr, "Failed to connect to non-global ctrl_ifname: %s  error: %s\n",
                     o.interface.empty() ? "(nil)" : o.interface.c_str(),
                     "No such file or directory");
        return 255;
    }
    if (o.action.empty()) {
        if (o.command[0] == "status") return status(link);
        if (o.command[0] == "ping") return std::printf("PONG\n") < 0;
        std::printf("Unknown command '%s'\n", o.command[0].c_str());
        return 1;
    }
    std::string action, pidHost;
    if (!path_argument(tool, o.action, &action) ||
        (!o.pidFile.empty() && !path_argument(tool, o.pidFile, &pidHost)))
        return 255;
    if (o.background && detach(tool)) return 0;
    if (!pidHost.empty()) write_text(pidHost, std::to_string(::getpid()) + "\n");
    note(tool, "%s: watching the supplicant's events for %s", o.interface.c_str(),
         board_terms(tool, action).c_str());
    int result = watch(tool, o, action, link.pid);
    if (!pidHost.empty()) ::unlink(pidHost.c_str());
    return result;
}

}  // namespace zq::sim::tools
