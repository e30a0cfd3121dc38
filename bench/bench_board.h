// A fresh virtual board for a benchmark process, at clock speed 1.
#pragma once

#include <stdlib.h>

#include <string>

#include "emul/board.h"

inline std::string make_bench_board() {
    char pattern[] = "/tmp/zqbench.XXXXXX";
    if (!mkdtemp(pattern)) abort();
    std::string dir = std::string(pattern) + "/board";
    std::string error;
    if (!zq::sim::create_board(dir, &error)) abort();
    setenv("ZQ_VBOARD", dir.c_str(), 1);
    return dir;
}
