#include "tool_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "board.h"

extern char **environ;

namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// How often the output device has been closed on the board so far.
int output_closes(const std::string &dir) {
    int closes = 0;
    for (const std::string &line : zq::sim::journal_lines(dir))
        closes += line.find(" /dev/ao close") != std::string::npos;
    return closes;
}

}  // namespace

ToolRun run_tool(const std::string &dir, const std::vector<std::string> &args, int timeoutSeconds) {
    const std::string outPath = dir + "/../tool.out", errPath = dir + "/../tool.err";
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "ZQ_VBOARD=", 10) != 0) env.emplace_back(*e);
    env.push_back("ZQ_VBOARD=" + dir);
    std::vector<char *> envp, argv;
    for (std::string &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string tool = ZQ_PROVISION_TOOL;
    std::vector<std::string> argStore(args);
    argv.push_back(tool.data());
    for (std::string &a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ToolRun run;
    const int closesBefore = output_closes(dir);
    auto prompt_finished = [&](const std::string &board) {
        return output_closes(board) > closesBefore;
    };
    int rc = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return run;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
            break;
        }
        if (prompt_finished(dir) || std::chrono::steady_clock::now() > deadline) {
            // Let it reach its idle loop, then stop it there.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            run.idled = prompt_finished(dir) && waitpid(pid, &status, WNOHANG) == 0;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    return run;
}
