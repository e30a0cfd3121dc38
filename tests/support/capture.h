// Captures what a piece of code writes to standard output or error, at the
// descriptor level, after flushing the C streams.
#pragma once

#include <functional>
#include <string>

struct Captured {
    std::string out;
    std::string err;
};

Captured capture_output(const std::function<void()> &body);
