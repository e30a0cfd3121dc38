#include "tool_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "emul/board.h"

extern char **environ;

namespace {

// How often the output device has been closed on the board so far.
int output_closes(const std::string &dir) {
    int closes = 0;
    for (const std::string &line : zq::sim::journal_lines(dir))
        closes += line.find(" /dev/ao close") != std::string::npos;
    return closes;
}

}  // namespace

ToolRun run_tool(const std::string &dir, const std::vector<std::string> &args, int timeoutSeconds) {
    const std::string outPath = dir + "/tool.out", errPath = dir + "/tool.err";
    setenv("ZQ_VBOARD", dir.c_str(), 1);  // the child inherits our environment
    std::string tool = ZQ_PROVISION_TOOL;
    std::vector<std::string> argStore(args);
    std::vector<char *> argv{tool.data()};
    for (std::string &a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (auto [fd, path] : {std::pair{1, &outPath}, std::pair{2, &errPath}})
        posix_spawn_file_actions_addopen(&actions, fd, path->c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    pid_t pid = -1;
    ToolRun run;
    const int closesBefore = output_closes(dir);
    auto prompt_finished = [&] { return output_closes(dir) > closesBefore; };
    int rc = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return run;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (int status = 0;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
            break;
        }
        if (prompt_finished() || std::chrono::steady_clock::now() > deadline) {
            // Let it reach its idle loop, then stop it there.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            run.idled = prompt_finished() && waitpid(pid, &status, WNOHANG) == 0;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
    }
    run.out = zq::sim::read_board_file(dir, "/tool.out");
    run.err = zq::sim::read_board_file(dir, "/tool.err");
    return run;
}
