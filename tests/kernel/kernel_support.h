// What the kernel-board tests share: shell commands with their output, a
// function run in a child process of its own (the SDK keeps some state per
// process), and waits with a limit.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kb {

struct Run {
    int status;       // exit status, or 128 + signal
    std::string out;  // standard output (and error, where the command says 2>&1)
};

// Runs command with "/bin/sh -c".
Run sh(const std::string &command);
// The same as an assertion: success when it exits 0, else its status and
// output (standard error included).
::testing::AssertionResult ran(const std::string &command);

// Runs body in a forked child; its exit status is body's result (0 to 255),
// 128 + signal when it was killed. Whatever body writes to out comes back.
Run in_child(const std::function<int(std::string &out)> &body);

// Polls ready every 50 ms for at most seconds; true once it holds.
bool wait_for(const std::function<bool()> &ready, double seconds);

std::string read_file(const std::string &path);
bool exists(const std::string &path);

// The pids of processes whose program name (first argument, its base name)
// is name, as the real /proc lists them.
std::string pids_named(const std::string &name);

}  // namespace kb
