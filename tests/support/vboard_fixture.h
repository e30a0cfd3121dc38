// Every test gets a fresh virtual board in a temporary directory, made and
// named in ZQ_VBOARD before the test's first SDK call.
#pragma once

#include <gtest/gtest.h>

#include <string>
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

  private:
    std::string root_;
    std::string dir_;
};

// Writes text to a file of the board (a board path), replacing it.
void write_board_file(const std::string &dir, const std::string &boardPath,
                      const std::string &text);

// The vboard command as a person runs it: its exit status (-1 when it did
// not end normally) and everything it printed, both streams.
struct CliRun {
    int status;
    std::string out;
};
CliRun vboard(const std::string &args);

// How often what occurs in text.
inline size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}
