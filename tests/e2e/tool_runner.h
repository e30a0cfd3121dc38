// Runs the built provisioning tool as a child process on a board, the way
// the factory does, and collects what it printed and how it ended.
#pragma once

#include <string>
#include <vector>

struct ToolRun {
    std::string out, err;  // kept on the board as "/tool.out" and "/tool.err"
    int exitStatus = -1;   // -1 when it did not exit by itself
    bool idled = false;    // played its prompt and went on idling (stopped by us)
};

// Runs the tool with args on the board at dir. A run that reaches its voice
// prompt is stopped once the prompt has played and the output device closed.
ToolRun run_tool(const std::string &dir, const std::vector<std::string> &args,
                 int timeoutSeconds = 60);
