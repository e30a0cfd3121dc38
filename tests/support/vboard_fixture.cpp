#include "support/vboard_fixture.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "emul/board.h"

void VBoardTest::SetUp() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zqtest.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    dir_ = root_ + "/board";
    std::string error;
    ASSERT_TRUE(zq::sim::create_board(dir_, &error)) << error;
    setenv("ZQ_VBOARD", dir_.c_str(), 1);
    // Local time is UTC so that log lines are the same on every machine.
    setenv("TZ", "UTC0", 1);
    tzset();
}

void VBoardTest::TearDown() {
    if (HasFailure()) {
        std::printf("board kept for inspection: %s\n", dir_.c_str());
        return;
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void VBoardTest::freeze_clock(double monotonicSeconds, long long realtimeSeconds) {
    zq::sim::ClockSetting clock;
    clock.speed = 0;
    clock.monotonic_ns = static_cast<int64_t>(monotonicSeconds * 1e9 + 0.5);
    clock.realtime_ns = realtimeSeconds * 1000000000LL;
    ASSERT_TRUE(zq::sim::set_clock(dir_, clock));
}

std::vector<std::string> VBoardTest::journal_events(const std::string &subject) const {
    std::vector<std::string> out;
    for (const std::string &line : zq::sim::journal_lines(dir_)) {
        size_t at = line.find(" " + subject + " ");
        if (at != std::string::npos) out.push_back(line.substr(at + subject.size() + 2));
    }
    return out;
}

std::string VBoardTest::log_text() const {
    return zq::sim::read_board_file(dir_, "/dev/log");
}

void write_board_file(const std::string &dir, const std::string &boardPath,
                      const std::string &text) {
    std::filesystem::create_directories(std::filesystem::path(dir + boardPath).parent_path());
    std::ofstream(dir + boardPath, std::ios::binary | std::ios::trunc) << text;
}

CliRun vboard(const std::string &args) {
    std::string command = std::string(ZQ_VBOARD_TOOL) + " " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    CliRun run{-1, ""};
    if (!pipe) return run;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) run.out.append(buf, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
