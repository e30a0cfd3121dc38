// The board's multi-call tool program: the wrapper scripts of a virtual
// board (usr/wifi/iw, bin/udhcpc, ...) exec it under the tool's name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emul/board.h"
#include "tools/tool.h"

namespace {

using namespace zq::sim::tools;

struct Entry {
    const char *name;
    ToolMain main;
};

const Entry kTools[] = {
    {"iw", iw_main},           {"wpa_supplicant", wpa_supplicant_main},
    {"wpa_cli", wpa_cli_main}, {"hostapd", hostapd_main},
    {"udhcpc", udhcpc_main},   {"udhcpd", udhcpd_main},
    {"dnsd", dnsd_main},       {"ifconfig", ifconfig_main},
    {"route", route_main},
};

std::string base_name(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Network tools the board does not fake end here: the host's must never run.
int refuse(Tool &tool) {
    note(tool, "refused %s: not a tool of the virtual board", board_terms(tool, tool.as).c_str());
    std::fprintf(stderr, "%s: not a tool of the virtual board\n", tool.name.c_str());
    return 127;
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
    if (program == "refuse") return refuse(tool);
    for (const Entry &entry : kTools) {
        if (program != entry.name) continue;
        std::string line;
        for (const std::string &word : board_argv(tool)) line += (line.empty() ? "" : " ") + word;
        zq::sim::journal(tool.name, "run %s", line.c_str());
        // The board's /proc shows the tool by its board name from the start,
        // never by the program's path in the build.
        register_self(tool);
        return entry.main(tool);
    }
    std::fprintf(stderr, "%s: no such board tool\n", program.c_str());
    return 127;
}
