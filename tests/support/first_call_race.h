// Threads that make a family's first calls at once may each open its device:
// every call succeeds, one descriptor is kept (the others closed) and works.
#pragma once

#include <functional>
#include <thread>

#include "emul/board.h"
#include "support/vboard_fixture.h"
#include "zq_common.h"

// call(i) is the first call of thread i; device is the node ("/dev/vi").
inline void expect_racing_first_calls_keep_one_descriptor(const std::string &dir,
                                                          const std::string &device,
                                                          const std::function<s32(int)> &call) {
    std::vector<s32> results(4, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { results[size_t(i)] = call(i); });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(results, std::vector<s32>(4, 0)) << device;
    const std::string journal = zq::sim::read_board_file(dir, "/journal");
    EXPECT_EQ(count_of(journal, " " + device + " open\n"),
              count_of(journal, " " + device + " close\n") + 1);
    EXPECT_EQ(call(0), 0) << device << " after the race";
}
