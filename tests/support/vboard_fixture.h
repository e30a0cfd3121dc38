// Every test gets a fresh virtual board in a temporary directory, made and
// named in ZQ_VBOARD before the test's first SDK call.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class VBoardTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Host path of a file inside the board.
    std::string host(const std::string &boardPath) const { return dir_ + boardPath; }
    const std::string &dir() const { return dir_; }

    // The journal's events of subject ("/dev/ao", "gpio", "shell"...), without
    // time and pid, in order.
    std::vector<std::string> journal_events(const std::string &subject) const;

    // Stops the board clock at a known instant (speed 0: it then moves only
    // with the test's own sleeps).
    void freeze_clock(double monotonicSeconds, long long realtimeSeconds = 1767323045);

    // What the MPI log driver has been given.
    std::string log_text() const;

    // A process of the board (of dir() unless another is named) that stays
    // until killed, with argv as its command line; the test's end kills it.
    pid_t start_idle(const std::vector<std::string> &argv, const std::string &board = "");
    // A process on the board's list with argv that has already ended (the
    // list keeps it to the test's end).
    pid_t list_ended_process(const std::vector<std::string> &argv);
    // Reaps pid once it ends, waiting a little: the signal that ended it,
    // -1 when it exited, 0 while it still runs.
    static int ended_by(pid_t pid);

  private:
    std::string root_;
    std::string dir_;
    std::vector<pid_t> started_;
    std::vector<int> owners_;
};

// Writes text to a file of the board (a board path), replacing it.
void write_board_file(const std::string &dir, const std::string &boardPath,
                      const std::string &text);

// A shell command's exit status (-1 when it did not end normally) and its
// standard output.
struct CliRun {
    int status;
    std::string out;
};
CliRun run_command(const std::string &command);
// The vboard command as a person runs it (both streams).
CliRun vboard(const std::string &args);

// Waits (host time, up to about ten seconds) for what another thread does.
template <typename Done>
bool eventually(Done done) {
    for (int i = 0; i < 20000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    return done();
}

// How often what occurs in text.
inline size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}
