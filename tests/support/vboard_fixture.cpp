#include "support/vboard_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "emul/board.h"
#include "emul/process_table.h"

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
    for (pid_t pid : started_) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    for (int owner : owners_) ::close(owner);
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

pid_t VBoardTest::start_idle(const std::vector<std::string> &argv, const std::string &board) {
    const std::string on = board.empty() ? dir_ : board, tool = on + "/bin/idle";
    if (::access(tool.c_str(), X_OK) != 0) {
        std::ofstream(tool) << "#!/bin/sh\nexec sleep 60\n";
        ::chmod(tool.c_str(), 0755);
    }
    std::string error;
    pid_t pid = zq::sim::start_board_process(on, "idle", argv, &error);
    EXPECT_GT(pid, 0) << error;
    started_.push_back(pid);
    return pid;
}

pid_t VBoardTest::list_ended_process(const std::vector<std::string> &argv) {
    pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    zq::sim::register_board_process(dir_, ended, argv);
    // The board lists a process while its owner file is locked.
    int owner = ::open(host("/proc/" + std::to_string(ended) + "/owner").c_str(),
                       O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(::flock(owner, LOCK_EX), 0);
    owners_.push_back(owner);
    return ended;
}

int VBoardTest::ended_by(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
        ::usleep(5000);
    }
    return 0;
}

void write_board_file(const std::string &dir, const std::string &boardPath,
                      const std::string &text) {
    std::filesystem::create_directories(std::filesystem::path(dir + boardPath).parent_path());
    std::ofstream(dir + boardPath, std::ios::binary | std::ios::trunc) << text;
}

CliRun run_command(const std::string &command) {
    CliRun run{-1, ""};
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) run.out.append(buf, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

CliRun vboard(const std::string &args) {
    return run_command(std::string(ZQ_VBOARD_TOOL) + " " + args + " 2>&1");
}
