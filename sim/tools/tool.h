// The board's multi-call tool program: what every fake tool shares. A tool
// runs on the board that ZQ_VBOARD names, journals every run in board terms,
// keeps time on the board clock, and acts only on files inside the board.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "board/wifi_radio.h"
#include "emul/net.h"

namespace zq::sim::tools {

struct Tool {
    std::string name;               // "iw", "udhcpc", ...
    std::string dir;                // the board's root (host path)
    std::string as;                 // the tool as the board names it: "/usr/wifi/iw", "udhcpc"
    std::vector<std::string> args;  // the arguments, as given
};

int iw_main(Tool &tool);
int wpa_supplicant_main(Tool &tool);
int wpa_cli_main(Tool &tool);
int hostapd_main(Tool &tool);
int udhcpc_main(Tool &tool);
int udhcpd_main(Tool &tool);
int dnsd_main(Tool &tool);
int ifconfig_main(Tool &tool);
int route_main(Tool &tool);

// The command line as getopt reads it: "-i wlan0" and "-iwlan0", flags
// grouped ("-fS"); withValue's letters take a value, flags' do not, other
// words are operands. An unknown option, a missing value or more than
// maxOperands operands: usage on standard error and false.
struct Options {
    std::map<char, std::string> values;  // flags hold "1"
    std::vector<std::string> operands;
    bool has(char option) const { return values.count(option) > 0; }
    std::string get(char option, const std::string &fallback = "") const {
        return has(option) ? values.at(option) : fallback;
    }
};
bool parse_options(const Tool &tool, const char *withValue, const char *flags, size_t maxOperands,
                   const char *usage, Options *options);

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
// The lines of a text (a configuration read by a tool).
std::vector<std::string> lines_of(const std::string &text);
// Appends text to a log file in one write, so that lines of several
// processes stay whole (whole files go through write_file_whole).
bool append_text(const std::string &hostPath, const std::string &text);

// Runs a board script (an event script of a tool) with its arguments and
// the tool's environment plus variables ("NAME=value"), the board's tools
// first in PATH, and waits for it.
void run_script(const Tool &tool, const std::string &script, const std::vector<std::string> &args,
                const std::vector<std::string> &variables);

// Waits on the board clock; false when the board is gone (a board tool then
// ends). At a stopped clock the wait is a short pause of host time.
bool board_wait(const Tool &tool, double seconds);

// A daemon's start: runs setUp, with background (-B) in a child that the
// parent lists on the board and waits for: the parent returns true (to end)
// once the daemon has set up, as a real one forks once it is ready; the
// child, or the tool in the foreground, returns false and goes on.
bool start(const Tool &tool, bool background, const std::function<void()> &setUp);
// A daemon that only serves once started: it lives until the board is gone
// or a signal ends it. 0, the command's status.
int serve(const Tool &tool, bool background, const std::function<void()> &setUp);
// Records what this process set up on interface (board.json "wifi.running").
void record(const Tool &tool, const std::string &interface,
            const std::map<std::string, std::string> &fields);

// The net section of board.json as read now (edit_board changes it under the board's lock).
std::vector<NetInterface> interfaces(const Tool &tool);
bool find_interface(const Tool &tool, const std::string &name, NetInterface *found);
// Changes the interface called name in board.json, if there is one.
void change_interface(const Tool &tool, const std::string &name,
                      const std::function<void(NetInterface &)> &change);

}  // namespace zq::sim::tools
