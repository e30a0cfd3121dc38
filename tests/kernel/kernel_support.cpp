// What the kernel-board tests share (kernel_support.h).
#include "kernel_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace kb {

static int decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

Run sh(const std::string &command) {
    Run run{-1, {}};
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof block, pipe)) > 0) run.out.append(block, got);
    run.status = decode(pclose(pipe));
    return run;
}

::testing::AssertionResult ran(const std::string &command) {
    const Run run = sh(command + " 2>&1");
    if (run.status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << command << "\nstatus " << run.status << ": " << run.out;
}

Run in_child(const std::function<int(std::string &out)> &body) {
    Run run{-1, {}};
    int ends[2];
    if (pipe(ends) != 0) return run;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        std::string out;
        const int result = body(out);
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t put = write(ends[1], out.data() + done, out.size() - done);
            if (put <= 0) break;
            done += static_cast<size_t>(put);
        }
        std::fflush(nullptr);
        _exit(result);
    }
    close(ends[1]);
    if (child < 0) {
        close(ends[0]);
        return run;
    }
    char block[4096];
    ssize_t got;
    while ((got = read(ends[0], block, sizeof block)) > 0)
        run.out.append(block, static_cast<size_t>(got));
    close(ends[0]);
    int status = 0;
    if (waitpid(child, &status, 0) == child) run.status = decode(status);
    return run;
}

bool wait_for(const std::function<bool()> &ready, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string pids_named(const std::string &name) {
    return sh("for d in /proc/[0-9]*; do n=$(tr '\\0' '\\n' 2>/dev/null <$d/cmdline | head -n 1);"
              " [ \"${n##*/}\" = '" +
              name + "' ] && echo ${d#/proc/}; done | sort -n | tr '\\n' ' '")
        .out;
}

}  // namespace kb
