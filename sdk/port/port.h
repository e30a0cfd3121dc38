// The hardware seam: the only way the SDK reaches devices, kernel interfaces,
// board files, clocks, the shell and signals.
//
// Two backends fill the same ops table: the Linux one forwards to the C
// library (port_native.h), the virtual board's (compiled with
// ZQ_VIRTUAL_BOARD, in sim/) interprets board paths inside a board
// directory. Without the virtual board the wrappers below are direct calls
// of the C library: no table, no indirect call.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace zq::port {

struct Ops {
    // Device and board files, by absolute board path.
    int (*open)(const char *path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void *buf, size_t count);
    ssize_t (*write)(int fd, const void *buf, size_t count);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*ioctl)(int fd, unsigned long request, void *arg);
    void *(*mmap)(void *addr, size_t length, int prot, int flags, int fd, off_t offset);
    int (*munmap)(void *addr, size_t length);
    FILE *(*fopen)(const char *path, const char *mode);
    int (*fclose)(FILE *stream);
    int (*access)(const char *path, int mode);
    DIR *(*opendir)(const char *path);
    // Sockets (interface address requests go through ioctl on them), and the
    // wait for descriptors (on a virtual board its timeout is board time).
    int (*socket)(int domain, int type, int protocol);
    int (*bind)(int fd, const struct sockaddr *address, socklen_t length);
    int (*setsockopt)(int fd, int level, int name, const void *value, socklen_t length);
    ssize_t (*recv)(int fd, void *buf, size_t length, int flags);
    int (*poll)(struct pollfd *fds, nfds_t count, int timeoutMs);

    // Clocks and sleeps.
    int (*clock_gettime)(clockid_t clock, struct timespec *ts);
    int (*sleep)(const struct timespec *duration);

    // The shell. Command texts name host paths made with host_path().
    int (*system)(const char *command);
    FILE *(*popen)(const char *command, const char *mode);
    int (*pclose)(FILE *stream);
    // Writes the host path of a board path into out; -1 (ENAMETOOLONG) when it does not fit.
    int (*host_path)(const char *boardPath, char *out, size_t outSize);

    // Processes: "/bin/sh -c command" in a child that keeps only standard
    // input, output and error (a failed exec ends it with status 127), and
    // the wait for it. With a reportFd (not -1: the write end of a pipe) the
    // child is a go-between instead, for a caller whose SIGCHLD is ignored
    // and whose children the kernel therefore reaps unasked: it starts the
    // shell, waits for it, writes the shell's raw wait status (an int) to
    // reportFd and ends; it writes nothing when it cannot start or wait for
    // the shell.
    pid_t (*spawn_shell)(const char *command, int reportFd);
    pid_t (*waitpid)(pid_t pid, int *status, int options);

    // Signals, storage flush, reboot, real-time scheduling.
    int (*kill)(pid_t pid, int sig);
    void (*sync)();
    int (*reboot)(int command);
    int (*set_realtime)(pthread_t thread, int policy, int priority, const char *name);
};

// The backend that forwards to the C library.
const Ops &linux_ops();

// What the SDK lends a virtual board that plugs into the seam: the Linux
// backend, and the shell spawner both backends start shells with.
struct NativeParts {
    const Ops *linux;
    pid_t (*spawn_shell_with)(const char *command, char *const envp[], int reportFd);
};

}  // namespace zq::port

// The virtual board's hook, defined by the virtual-board library only (the
// SDK refers to it weakly): given the SDK's native parts, the board's ops
// table when ZQ_VBOARD names a board, null when it is unset. A named
// directory that is no board ends the process.
extern "C" const zq::port::Ops *zq_vboard_ops(const zq::port::NativeParts *native);

namespace zq::port {

#if ZQ_VIRTUAL_BOARD
// The backend of this process, chosen at the first call: the virtual board's
// when ZQ_VBOARD names a board directory and the program is linked with the
// virtual board (which defines zq_vboard_ops), the Linux one when ZQ_VBOARD
// is unset. A program without the virtual board that is asked for one ends
// (status 70): it never runs on real hardware instead.
const Ops &ops();
#define ZQ_SEAM(entry) ops().entry
#else
}  // namespace zq::port
#include "port/port_native.h"
namespace zq::port {
#define ZQ_SEAM(entry) native::entry
#endif

// Convenience wrappers; sdk/ code calls these as port::open(...) and so on.
// Every descriptor and stream they make is close-on-exec: a command the SDK
// or its application starts must never inherit the flash, a device or a log.
inline int open(const char *path, int flags, mode_t mode = 0) {
    return ZQ_SEAM(open)(path, flags | O_CLOEXEC, mode);
}
inline int close(int fd) {
    return ZQ_SEAM(close)(fd);
}
inline ssize_t read(int fd, void *buf, size_t n) {
    return ZQ_SEAM(read)(fd, buf, n);
}
inline ssize_t write(int fd, const void *buf, size_t n) {
    return ZQ_SEAM(write)(fd, buf, n);
}
inline off_t lseek(int fd, off_t off, int whence) {
    return ZQ_SEAM(lseek)(fd, off, whence);
}
inline int ioctl(int fd, unsigned long request, void *arg) {
    return ZQ_SEAM(ioctl)(fd, request, arg);
}
inline void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off) {
    return ZQ_SEAM(mmap)(addr, len, prot, flags, fd, off);
}
inline int munmap(void *addr, size_t len) {
    return ZQ_SEAM(munmap)(addr, len);
}
// mode gains "e" (close-on-exec); a mode of more than 7 letters is refused.
FILE *fopen(const char *path, const char *mode);
inline int fclose(FILE *stream) {
    return ZQ_SEAM(fclose)(stream);
}
inline int access(const char *path, int mode) {
    return ZQ_SEAM(access)(path, mode);
}
inline DIR *opendir(const char *path) {
    return ZQ_SEAM(opendir)(path);
}
inline int socket(int domain, int type, int protocol) {
    return ZQ_SEAM(socket)(domain, type | SOCK_CLOEXEC, protocol);
}
inline int bind(int fd, const struct sockaddr *address, socklen_t length) {
    return ZQ_SEAM(bind)(fd, address, length);
}
inline int setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
    return ZQ_SEAM(setsockopt)(fd, level, name, value, length);
}
inline ssize_t recv(int fd, void *buf, size_t length, int flags) {
    return ZQ_SEAM(recv)(fd, buf, length, flags);
}
inline int poll(struct pollfd *fds, nfds_t count, int timeoutMs) {
    return ZQ_SEAM(poll)(fds, count, timeoutMs);
}
inline int clock_gettime(clockid_t clock, struct timespec *ts) {
    return ZQ_SEAM(clock_gettime)(clock, ts);
}
inline int system(const char *command) {
    return ZQ_SEAM(system)(command);
}
// mode gains "e": the pipe's end in this process is close-on-exec too.
FILE *popen(const char *command, const char *mode);
inline int pclose(FILE *stream) {
    return ZQ_SEAM(pclose)(stream);
}
inline int host_path(const char *boardPath, char *out, size_t outSize) {
    return ZQ_SEAM(host_path)(boardPath, out, outSize);
}
inline pid_t spawn_shell(const char *command, int reportFd = -1) {
    return ZQ_SEAM(spawn_shell)(command, reportFd);
}
inline pid_t waitpid(pid_t pid, int *status, int options) {
    return ZQ_SEAM(waitpid)(pid, status, options);
}
inline int kill(pid_t pid, int sig) {
    return ZQ_SEAM(kill)(pid, sig);
}
inline void sync() {
    ZQ_SEAM(sync)();
}
inline int reboot(int command) {
    return ZQ_SEAM(reboot)(command);
}
inline int set_realtime(pthread_t thread, int policy, int priority, const char *name) {
    return ZQ_SEAM(set_realtime)(thread, policy, priority, name);
}

// The descriptor kept in `kept`, opening path on first use (a driver a
// family keeps open for the life of the process). Threads that race here
// keep one descriptor: each opens, the first to publish wins, the others
// close their own. -1 when the open fails; the next call tries again.
int open_kept(std::atomic<int> &kept, const char *path, int flags);

// Holds SIGINT, SIGTERM and SIGHUP on the calling thread while it lives, so
// that a Ctrl-C cannot stop a flash write half way; a signal that arrived
// meanwhile is delivered when the hold ends.
class TerminationHold {
  public:
    TerminationHold();
    ~TerminationHold();
    TerminationHold(const TerminationHold &) = delete;
    TerminationHold &operator=(const TerminationHold &) = delete;

  private:
    sigset_t previous_;
};

// Keeps SIGINT, SIGTERM and SIGHUP away from the calling thread for good
// (the SDK's own threads), so that they reach the application's threads.
void refuse_termination_signals();

// Replaces the file at a board path with data: a temporary file beside it,
// flushed to the medium, renamed over it. A symbolic link is followed first
// (its target replaced, the link kept). 0, or -1 with errno.
int replace_file(const char *boardPath, const void *data, size_t length);
// The same for a host path, whose links are host paths too (the board's
// own tools).
int replace_host_file(const char *hostPath, const void *data, size_t length);

// The one writer of whole files, under the two above and the virtual
// board's own files (inline, so that the board's library needs nothing of
// the SDK's): data goes to a temporary file beside hostPath, given mode,
// flushed to the medium and renamed over it, and the directory is flushed.
// A reader, or a shell looking a program up, sees the old file or the whole
// new one. 0, or -1 with errno; on failure the old file stays.
inline int write_whole_file(const char *hostPath, const void *data, size_t length, mode_t mode) {
    std::string temporary = std::string(hostPath) + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    bool ok = ::fchmod(fd, mode) == 0;
    for (const char *p = static_cast<const char *>(data); ok && length > 0;) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        ok = n > 0;
        p += ok ? n : 0;
        length -= ok ? static_cast<size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), hostPath) == 0) {
        // The rename itself reaches the medium only with its directory.
        std::string dir(hostPath);
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
        int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            (void)::fsync(dirFd);
            ::close(dirFd);
        }
        return 0;
    }
    int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    return -1;
}

// Starts "/bin/sh -c command" with the environment envp in a child whose
// descriptors from 3 up are closed, whatever the descriptor limit; a failed
// exec ends the child with status 127. No signal reaches the child before
// the exec; the shell starts with the caller's signal mask, the caller's
// handlers at their defaults and SIGCHLD at its default even when the
// caller ignores it. With a reportFd the child is the go-between of the
// spawn_shell entry. Both backends start shells with it.
pid_t spawn_shell_with(const char *command, char *const envp[], int reportFd = -1);

// Runs "/bin/sh -c command" through the seam's spawn_shell and waits for
// it: kShellWaited with its wait status in *status, kShellNotStarted when
// no child can be made, kShellNotWaited when it cannot be waited for. When
// the kernel reaps this process's children unasked (SIGCHLD ignored, or
// SA_NOCLDWAIT) no wait could find the shell: a go-between child waits for
// it and passes its status back on a pipe, and the process-wide
// disposition, which other threads rely on, stays as it is.
enum ShellRun { kShellWaited = 0, kShellNotStarted = -1, kShellNotWaited = -2 };
ShellRun run_shell(const char *command, int *status);

// Sleeps on the board clock; returns early only when a signal interrupts.
int sleep_ns(uint64_t ns);
inline int sleep_us(uint64_t us) {
    return sleep_ns(us * 1000u);
}
inline int sleep_ms(uint64_t ms) {
    return sleep_ns(ms * 1000000u);
}

// Nanoseconds on the board's monotonic clock.
uint64_t monotonic_ns();

}  // namespace zq::port
