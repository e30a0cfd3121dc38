// Runs the built provisioning tool as a child process on a board, the way
// the factory does, and collects what it printed and how it ended.
#pragma once

#include <string>
#include <vector>

struct ToolRun {
    std::string out;
    std::string err;
    int exitStatus = -1;  // -1 when it did not exit by itself
    bool idled = false;   // played its prompt and went on idling (stopped by us)
};

// Runs the tool with args on the board at dir. When the run reaches its
// voice prompt, waits until the prompt has played and the output device is
// closed, then stops the idling tool.
ToolRun run_tool(const std::string &dir, const std::vector<std::string> &args,
                 int timeoutSeconds = 60);
