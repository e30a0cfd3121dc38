// The seam's helpers that both backends share: close-on-exec streams,
// termination signals held over a flash write, files replaced whole, and a
// shell command waited for whatever the caller does with SIGCHLD.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "port/port.h"

namespace zq::port {
namespace {

sigset_t termination_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

constexpr int kMaxLinks = 40;  // as the kernel's own limit

// Follows path while it names a symbolic link. Absolute link targets are
// board paths when onBoard (a link on the board points into the board).
bool follow_links(std::string &path, bool onBoard) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        char target[PATH_MAX];
        ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) return errno == EINVAL || errno == ENOENT;  // not a link, or a new file
        target[n] = '\0';
        if (target[0] != '/') {
            size_t slash = path.rfind('/');
            path =
                (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
        } else if (!onBoard) {
            path = target;
        } else {
            char host[PATH_MAX];
            if (host_path(target, host, sizeof host) != 0) return false;
            path = host;
        }
    }
    errno = ELOOP;
    return false;
}

int replace_resolved(std::string path, const void *data, size_t length, bool onBoard) {
    if (!follow_links(path, onBoard)) return -1;
    struct stat old {};
    mode_t mode = ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : 0644;
    return write_whole_file(path.c_str(), data, length, mode);
}

// mode with "e" added, in closing; false when it does not fit.
bool closing_mode(const char *mode, char (&closing)[8]) {
    if (!mode || std::strlen(mode) >= sizeof closing - 1) {
        errno = EINVAL;
        return false;
    }
    std::strcpy(closing, mode);
    if (!std::strchr(closing, 'e')) std::strcat(closing, "e");
    return true;
}

}  // namespace

int open_kept(std::atomic<int> &kept, const char *path, int flags) {
    int fd = kept.load(std::memory_order_acquire);
    if (fd >= 0) return fd;
    fd = open(path, flags);
    if (fd < 0) return -1;
    int none = -1;
    if (kept.compare_exchange_strong(none, fd, std::memory_order_acq_rel)) return fd;
    close(fd);
    return none;
}

FILE *fopen(const char *path, const char *mode) {
    char closing[8];
    return closing_mode(mode, closing) ? ZQ_SEAM(fopen)(path, closing) : nullptr;
}

FILE *popen(const char *command, const char *mode) {
    char closing[8];
    return closing_mode(mode, closing) ? ZQ_SEAM(popen)(command, closing) : nullptr;
}

TerminationHold::TerminationHold() {
    sigset_t held = termination_signals();
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

TerminationHold::~TerminationHold() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void refuse_termination_signals() {
    sigset_t held = termination_signals();
    pthread_sigmask(SIG_BLOCK, &held, nullptr);
}

ShellRun run_shell(const char *command, int *status) {
    struct sigaction current {};
    const bool reapedUnasked =
        ::sigaction(SIGCHLD, nullptr, &current) == 0 &&
        (current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0);
    if (!reapedUnasked) {
        pid_t child = spawn_shell(command);
        if (child < 0) return kShellNotStarted;
        while (waitpid(child, status, 0) < 0)
            if (errno != EINTR) return kShellNotWaited;
        return kShellWaited;
    }
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return kShellNotStarted;
    pid_t child = spawn_shell(command, report[1]);
    ::close(report[1]);
    ssize_t n = -1;
    if (child >= 0)
        while ((n = ::read(report[0], status, sizeof *status)) < 0 && errno == EINTR) {
        }
    ::close(report[0]);
    if (child < 0) return kShellNotStarted;
    // The go-between writes nothing when it could not start or wait for the shell.
    return n == static_cast<ssize_t>(sizeof *status) ? kShellWaited : kShellNotWaited;
}

int replace_file(const char *boardPath, const void *data, size_t length) {
    char host[PATH_MAX];
    if (!boardPath || host_path(boardPath, host, sizeof host) != 0) return -1;
    return replace_resolved(host, data, length, true);
}

int replace_host_file(const char *hostPath, const void *data, size_t length) {
    if (!hostPath) {
        errno = EINVAL;
        return -1;
    }
    return replace_resolved(hostPath, data, length, false);
}

}  // namespace zq::port
