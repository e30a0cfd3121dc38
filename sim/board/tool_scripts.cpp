// The wrapper scripts of the board's fake tools. ZQ_BOARD_TOOL_DIR (the
// directory of the tool program's names) and ZQ_BOARD_TOOL_EMULATOR (the
// emulator's quoted words in a cross build, else empty) come from the build.
#include "board/tool_scripts.h"

namespace zq::sim {

std::string board_tool_exec(const std::string &name) {
    std::string emulator = ZQ_BOARD_TOOL_EMULATOR;
    return "ZQ_TOOL_AS=\"$0\" exec " + (emulator.empty() ? "" : emulator + " ") + "'" +
           ZQ_BOARD_TOOL_DIR + "/" + name + "' \"$@\"";
}

std::string board_tool_script(const std::string &name) {
    return "#!/bin/sh\n# " + name +
           " of the virtual board: the board's multi-call tool program.\n" + board_tool_exec(name) +
           "\n";
}

std::string refusing_tool_script(const std::string &name) {
    return "#!/bin/sh\n# " + name +
           " is not a tool of the virtual board: it refuses, so that the host's is never run.\n" +
           board_tool_exec("refuse") + "\n";
}

}  // namespace zq::sim
