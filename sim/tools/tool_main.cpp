// The board's multi-call tool program: the wrapper scripts of a virtual
// board (usr/wifi/iw, bin/udhcpc, ...) exec it under the tool's name.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "emul/board.h"
#include "emul/process_table.h"
#include "tools/tool.h"

namespace {

using namespace zq::sim::tools;

const struct {
    const char *name;
    int (*main)(Tool &tool);
} kTools[] = {
    {"iw", iw_main},           {"wpa_supplicant", wpa_supplicant_main},
    {"wpa_cli", wpa_cli_main}, {"hostapd", hostapd_main},
    {"udhcpc", udhcpc_main},   {"udhcpd", udhcpd_main},
    {"dnsd", dnsd_main},       {"ifconfig", ifconfig_main},
    {"route", route_main},
};

std::string base_name(const std::string &path) {
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

int main(int argc, char **argv) {
    Tool tool;
    std::string program = base_name(argc > 0 ? argv[0] : "");
    const char *as = std::getenv("ZQ_TOOL_AS");
    std::string wrapper = as && *as ? as : program;
    ::unsetenv("ZQ_TOOL_AS");  // the tool's own children are other tools
    tool.name = program == "refuse" ? base_name(wrapper) : program;
    for (int i = 1; i < argc; ++i) tool.args.emplace_back(argv[i]);

    const char *board = std::getenv("ZQ_VBOARD");
    std::string error;
    if (!board || !*board || !zq::sim::activate(board, &error)) {
        std::fprintf(stderr, "%s: not on a virtual board (ZQ_VBOARD names none)\n",
                     tool.name.c_str());
        return 127;
    }
    tool.dir = zq::sim::active_dir();
    // Found through PATH, a tool is named as the shell named it; from the
    // tool directory, by its board path.
    std::string binPrefix = tool.dir + "/bin/";
    tool.as = wrapper.compare(0, binPrefix.size(), binPrefix) == 0 ? base_name(wrapper)
                                                                   : board_terms(tool, wrapper);
    // Network tools the board does not fake end here: the host's must never run.
    if (program == "refuse") {
        note(tool, "refused %s: not a tool of the virtual board", tool.as.c_str());
        std::fprintf(stderr, "%s: not a tool of the virtual board\n", tool.name.c_str());
        return 127;
    }
    for (const auto &entry : kTools) {
        if (program != entry.name) continue;
        std::string line;
        for (const std::string &word : board_argv(tool)) line += (line.empty() ? "" : " ") + word;
        zq::sim::journal(tool.name, "run %s", line.c_str());
        // The board's /proc shows the tool by its board name from the start,
        // never by the program's path in the build.
        zq::sim::register_board_process(tool.dir, ::getpid(), board_argv(tool));
        return entry.main(tool);
    }
    std::fprintf(stderr, "%s: no such board tool\n", program.c_str());
    return 127;
}
