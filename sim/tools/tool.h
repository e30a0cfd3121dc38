// The board's multi-call tool program: what every fake tool shares. A tool
// runs on the board that ZQ_VBOARD names, journals every run in board terms,
// keeps time on the board clock, and acts only on files inside the board.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "emul/net.h"

struct json_object;

namespace zq::sim::tools {

struct Tool {
    std::string name;               // "iw", "udhcpc", ...
    std::string dir;                // the board's root (host path)
    std::string as;                 // the tool as the board names it: "/usr/wifi/iw", "udhcpc"
    std::vector<std::string> args;  // the arguments, as given
};

using ToolMain = int (*)(Tool &tool);
int iw_main(Tool &tool);
int wpa_supplicant_main(Tool &tool);
int hostapd_main(Tool &tool);
int udhcpc_main(Tool &tool);
int udhcpd_main(Tool &tool);
int dnsd_main(Tool &tool);
int ifconfig_main(Tool &tool);
int route_main(Tool &tool);
int wpa_cli_main(Tool &tool);

// A text in board terms: host paths inside the board become board paths,
// control bytes become \xHH.
std::string board_terms(const Tool &tool, const std::string &text);
// The tool's command line as the board sees it.
std::vector<std::string> board_argv(const Tool &tool);
void note(const Tool &tool, const char *format, ...) __attribute__((format(printf, 2, 3)));

// A path given on the command line, as a host path inside the board; false
// (said on standard error and in the journal) when it leads outside.
bool path_argument(const Tool &tool, const std::string &given, std::string *host);
// A board path read from a configuration file, as a host path inside the board.
std::string board_file(const std::string &boardPath);

bool read_text(const std::string &hostPath, std::string *text);
bool write_text(const std::string &hostPath, const std::string &text, bool append = false);

// Runs a board script (an event script of a tool) with its arguments and
// the tool's environment plus variables ("NAME=value"), the board's tools
// first in PATH, and waits for it.
void run_script(const Tool &tool, const std::string &script, const std::vector<std::string> &args,
                const std::vector<std::string> &variables);

// Waits on the board clock; false when the board is gone (a board tool then
// ends). At a stopped clock the wait is a short pause of host time.
bool board_wait(const Tool &tool, double seconds);
bool board_gone(const Tool &tool);

// Lists this process on the board with its command line in board terms.
void register_self(const Tool &tool);
// Detaches into the background (-B): the parent lists the child on the
// board and returns true to end; the child returns false and goes on.
bool detach(const Tool &tool);

// board.json, edited under the board's lock; the net section as read now.
bool edit(const Tool &tool, const std::function<void(json_object *root)> &change);
std::vector<NetInterface> interfaces(const Tool &tool);
bool find_interface(const Tool &tool, const std::string &name, NetInterface *found);

// An IPv4 address in host order; false when text is not a dotted address.
bool ipv4_value(const std::string &text, uint32_t *value);
std::string dotted(uint32_t value);

}  // namespace zq::sim::tools
