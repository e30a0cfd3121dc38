// The board's fake tools (bin/ifconfig, usr/wifi/iw, ...) are small wrapper
// scripts that exec one multi-call program of the build, sim/tools/, under
// the tool's name (through the emulator in a cross build).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zq::sim {

// A template of sim/board/templates with each key ("@NAME@") replaced by
// its value.
using TemplateValues = std::vector<std::pair<std::string, std::string>>;
std::string fill_template(const char *name, const TemplateValues &values);

// The shell line that runs the tool program as name with the script's
// arguments; the program learns the script's path from ZQ_TOOL_AS.
std::string board_tool_exec(const std::string &name);

// The whole wrapper script of a faked tool, and of a network tool the board
// does not fake (it refuses, so that the host's tool is never reached).
std::string board_tool_script(const std::string &name);
std::string refusing_tool_script(const std::string &name);

}  // namespace zq::sim
