// The board's process table ("/proc/<pid>/cmdline" in the board directory):
// which host processes run on a board, and their command lines as the board
// sees them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zq::sim {

// Whether pid runs on the board at dir. A patient caller waits out the
// moment of an exec, when a process's environment reads empty.
bool runs_on_board(const std::string &dir, pid_t pid, bool patient);

// Lists pid on the board at dir with the command line argv.
bool register_board_process(const std::string &dir, pid_t pid,
                            const std::vector<std::string> &argv);

// Marks the board process pid as one of another user, whose kills the
// board refuses with EPERM as the kernel would ("proc/<pid>/user" holds
// the name); an empty user makes it the board's own again.
bool set_board_process_user(const std::string &dir, pid_t pid, const std::string &user);
// The other user pid belongs to; "" for the board's own processes.
std::string board_process_user(const std::string &dir, pid_t pid);

// Lists this process on the board at dir for as long as it lives.
void join_board(const std::string &dir);

// Drops the processes that ended and lists the board's processes that are
// not listed yet.
void refresh_board_processes(const std::string &dir);

}  // namespace zq::sim
