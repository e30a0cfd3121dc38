// vboard run, set and mmz: board processes, board.json settings and the
// media memory zone's buffers.
#include "emul/board.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "emul/mmz.h"
#include "vboard/verbs.h"

namespace zq::sim {

const char *const kRunUsage =
    "usage: vboard run DIR [--as ARGV0] [--user NAME] -- CMD [ARGS...]\n"
    "Starts CMD (the board's bin/ first in PATH) in the background as a process\n"
    "of the board, and prints its pid. The board's /proc shows it with the\n"
    "command line ARGV0 ARGS... (ARGV0 is CMD unless --as gives it); CMD gets\n"
    "the same arguments. Its output goes to DIR/processes.log. Only processes\n"
    "of a board can be signalled by programs on it, and every kill is journaled.\n"
    "With --user the process belongs to another user NAME: programs on the\n"
    "board may not signal it (EPERM), as the kernel refuses a foreign process.\n";

const char *const kSetUsage =
    "usage: vboard set DIR KEY VALUE\n"
    "Sets a board.json setting by its dotted path, for example\n"
    "  vboard set DIR temperature.value 61\n"
    "  vboard set DIR clock.speed 100\n"
    "VALUE is stored as JSON when it reads as JSON (numbers, true, false, null,\n"
    "objects, arrays, quoted texts), and as a text otherwise. Programs already\n"
    "running on the board see the change when they next load board.json.\n";

const char *const kMmzUsage =
    "usage: vboard mmz DIR list\n"
    "Lists the buffers the media memory zone's driver has handed out, in\n"
    "address order: physical address, length in bytes (whole pages), name.\n"
    "The zone itself is board.json \"mmz\": base and size.\n";

int run_mmz(const Args &args) {
    if (args.size() != 2 || args[1] != "list") return fail("mmz", "wants DIR list");
    if (!is_board(args[0])) return fail(not_a_board(args[0]));
    for (const MmzBuffer &b : mmz_buffers(args[0]))
        std::printf("0x%08X %u %s%s\n", b.phys, b.length, b.name.c_str(),
                    b.cached ? " (cached)" : "");
    return 0;
}

int run_run(const Args &args) {
    std::string dir, as, user;
    size_t i = 0;
    for (; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "--as" && i + 1 < args.size())
            as = args[++i];
        else if (args[i] == "--user" && i + 1 < args.size() && !args[i + 1].empty())
            user = args[++i];
        else if (dir.empty() && args[i][0] != '-')
            dir = args[i];
        else
            return fail("run", "unexpected '" + args[i] + "'");
    }
    if (dir.empty() || i + 1 >= args.size()) return fail("run", "which board and which command?");
    std::string program = args[i + 1];
    Args argv(args.begin() + static_cast<long>(i) + 1, args.end());
    if (!as.empty()) argv[0] = as;
    // The program's parent stays behind to reap it, since not every host's
    // first process reaps orphans: a killed board process must not linger
    // as a zombie that still answers kill(pid, 0).
    int report[2];
    // Close-on-exec, so that only the reaper holds it, not the program.
    if (::pipe2(report, O_CLOEXEC) != 0) return fail("run: cannot make a pipe");
    std::fflush(nullptr);
    pid_t reaper = ::fork();
    if (reaper < 0) return fail("run: cannot start a process");
    if (reaper == 0) {
        ::close(report[0]);
        ::setsid();
        std::string error;
        pid_t pid = start_board_process(dir, program, argv, &error, user);
        std::string message = pid < 0 ? "run: " + error : std::to_string(pid);
        (void)!::write(report[1], message.data(), message.size());
        ::close(report[1]);
        int quiet = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) ::dup2(quiet, fd);
        if (pid > 0)
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        ::_exit(0);
    }
    ::close(report[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        message.append(buffer, static_cast<size_t>(n));
    }
    ::close(report[0]);
    if (message.empty() || message[0] < '0' || message[0] > '9')
        return fail(message.empty() ? "run: the program did not start" : message);
    std::printf("%s\n", message.c_str());
    return 0;
}

int run_set(const Args &args) {
    if (args.size() != 3 || args[0][0] == '-') return fail("set", "wants DIR KEY VALUE");
    std::string error;
    if (!set_board_value(args[0], args[1], args[2], &error)) return fail("set: " + error);
    return 0;
}

}  // namespace zq::sim
