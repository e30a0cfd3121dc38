// Starting shell commands: a child that inherits nothing of ours beyond
// standard input, output and error.
//
// The child is made with vfork, so that a large process pays no page-table
// copy per command, and between vfork and exec it makes raw system calls
// only. Descriptors are closed with close_range where the kernel has it,
// else by listing /proc/self/fd, and only as a last resort by walking up to
// the descriptor limit (a million calls at a high limit).
//
// Signals: every signal is blocked around the vfork, so that none can run
// one of the application's handlers in the child, on the parent's memory.
// The child sets every handler that is not ignored back to its default,
// and SIGCHLD to its default even when it is ignored (an ignored SIGCHLD
// outlives the exec and would break the shell's own waits), then restores
// the caller's mask just before the exec.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "port/port.h"
#include "port/port_native.h"

extern char **environ;

namespace zq::port {
namespace {

constexpr int kFirstClosed = 3;

// The kernel's signal numbers run from 1 to 64 on every Linux port this
// builds for; its signal sets are 8 bytes.
constexpr int kLastSignal = 64;
constexpr size_t kKernelSigsetSize = 8;

// The kernel's own sigaction record (not the C library's), as x86, ARM and
// the generic layout have it: the handler first. Only the handler is read;
// an all-zero record is SIG_DFL with no flags and an empty mask, which needs
// no restorer on any port.
struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    unsigned long mask[kKernelSigsetSize / sizeof(unsigned long)];
};

// The kernel's directory record of getdents64.
struct DirentRecord {
    uint64_t inode;
    int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

bool close_listed_descriptors(int kept) {
    int dir = static_cast<int>(
        ::syscall(SYS_openat, AT_FDCWD, "/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir < 0) return false;
    alignas(8) char buffer[1024];
    for (;;) {
        long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (n <= 0) break;
        for (long at = 0; at < n;) {
            const auto *record = reinterpret_cast<const DirentRecord *>(buffer + at);
            at += record->length;
            int fd = 0;
            const char *c = record->name;
            if (*c < '0' || *c > '9') continue;
            for (; *c >= '0' && *c <= '9' && fd < INT_MAX / 10; ++c) fd = fd * 10 + (*c - '0');
            if (fd >= kFirstClosed && fd != dir && fd != kept) ::syscall(SYS_close, fd);
        }
    }
    ::syscall(SYS_close, dir);
    return true;
}

// Runs in the child: system calls only, nothing that touches memory the
// parent still needs. Closes every descriptor from 3 up but kept (-1: none).
void close_inherited_descriptors(long limit, int kept) {
#ifdef SYS_close_range
    if (kept < kFirstClosed) {
        if (::syscall(SYS_close_range, kFirstClosed, ~0u, 0) == 0) return;
    } else if ((kept == kFirstClosed ||
                ::syscall(SYS_close_range, kFirstClosed, kept - 1, 0) == 0) &&
               ::syscall(SYS_close_range, kept + 1, ~0u, 0) == 0) {
        return;
    }
#endif
    if (close_listed_descriptors(kept)) return;
    for (long fd = kFirstClosed; fd < limit; ++fd)
        if (fd != kept) ::syscall(SYS_close, fd);
}

// Runs in the child: the application's handlers back to the defaults (the
// child has its own table, even after vfork), ignored signals stay ignored
// but for SIGCHLD, which gets its default and loses SA_NOCLDWAIT.
void reset_signal_handlers() {
    for (int sig = 1; sig <= kLastSignal; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        KernelSigaction current{};
        if (::syscall(SYS_rt_sigaction, sig, nullptr, &current, kKernelSigsetSize) != 0) continue;
        if (sig != SIGCHLD && (current.handler == SIG_DFL || current.handler == SIG_IGN)) continue;
        const KernelSigaction byDefault{};
        ::syscall(SYS_rt_sigaction, sig, &byDefault, nullptr, kKernelSigsetSize);
    }
}

void set_signal_mask(const sigset_t *mask) {
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, mask, nullptr, kKernelSigsetSize);
}

// The wait of the go-between (a process of its own: the C library's wait
// is safe there).
bool wait_for(pid_t child, int *status) {
    pid_t waited;
    while ((waited = ::waitpid(child, status, 0)) < 0 && errno == EINTR) {
    }
    return waited == child;
}

// What a child needs, in memory the child only reads.
struct ChildPlan {
    char *const *argv;
    char *const *envp;
    sigset_t mask;  // the caller's, for the shell
    long limit;     // of descriptors
    int reportFd;   // -1: the child is the shell, not a go-between
};

// Runs in the child, its handlers already reset: the shell, with the
// caller's signal mask.
[[noreturn]] void exec_shell(const ChildPlan *plan) {
    set_signal_mask(&plan->mask);
    ::execve("/bin/sh", plan->argv, plan->envp);
    ::_exit(127);
}

// The go-between of a caller whose children the kernel reaps unasked: a
// forked copy of the caller, alone in it, so that the C library's
// async-signal-safe calls are safe. It keeps every signal blocked (only
// SIGKILL ends it before it reports), starts the shell, waits for it and
// writes its raw wait status to reportFd; nothing when either fails.
[[noreturn]] void report_shell(const ChildPlan *plan) {
    close_inherited_descriptors(plan->limit, plan->reportFd);
    pid_t shell = ::vfork();
    if (shell == 0) {
        ::syscall(SYS_close, plan->reportFd);
        exec_shell(plan);
    }
    int status = 0;
    if (shell > 0 && wait_for(shell, &status))
        (void)!::write(plan->reportFd, &status, sizeof status);
    ::_exit(0);
}

[[noreturn]] void run_child(const ChildPlan *plan) {
    reset_signal_handlers();
    if (plan->reportFd >= 0) report_shell(plan);
    close_inherited_descriptors(plan->limit, -1);
    exec_shell(plan);
}

long descriptor_limit() {
    struct rlimit files {};
    return ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
                   files.rlim_cur < static_cast<rlim_t>(INT_MAX)
               ? static_cast<long>(files.rlim_cur)
               : 1024;
}

}  // namespace

pid_t spawn_shell_with(const char *command, char *const envp[], int reportFd) {
    char sh[] = "sh", dashC[] = "-c";
    char *argv[] = {sh, dashC, const_cast<char *>(command), nullptr};
    ChildPlan plan{argv, envp, {}, descriptor_limit(), reportFd};
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &plan.mask);
    const int savedErrno = errno;
    // The go-between is a copy (fork): it waits for the shell, and the
    // caller must not stay suspended, as in vfork, for the command's run.
    pid_t pid = plan.reportFd < 0 ? ::vfork() : ::fork();
    if (pid == 0) run_child(&plan);
    const int forkErrno = errno;
    ::pthread_sigmask(SIG_SETMASK, &plan.mask, nullptr);
    // The vfork child's calls share our errno.
    errno = pid > 0 ? savedErrno : forkErrno;
    return pid;
}

pid_t native::spawn_shell(const char *command, int reportFd) {
    return spawn_shell_with(command, environ, reportFd);
}

}  // namespace zq::port
