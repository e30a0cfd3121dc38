// Starting shell commands: a child that inherits nothing of ours beyond
// standard input, output and error.
//
// The child is made with vfork, so that a large process pays no page-table
// copy per command, and between vfork and exec it makes raw system calls
// only. Descriptors are closed with close_range where the kernel has it,
// else by listing /proc/self/fd, and only as a last resort by walking up to
// the descriptor limit (a million calls at a high limit).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

// The kernel's directory record of getdents64.
struct DirentRecord {
    uint64_t inode;
    int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

bool close_listed_descriptors() {
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
            if (fd >= kFirstClosed && fd != dir) ::syscall(SYS_close, fd);
        }
    }
    ::syscall(SYS_close, dir);
    return true;
}

// Runs in the vfork child: system calls only, nothing that touches memory
// the parent still needs.
void close_inherited_descriptors(long limit) {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, kFirstClosed, ~0u, 0) == 0) return;
#endif
    if (close_listed_descriptors()) return;
    for (long fd = kFirstClosed; fd < limit; ++fd) ::syscall(SYS_close, fd);
}

}  // namespace

pid_t spawn_shell_with(const char *command, char *const envp[]) {
    struct rlimit files {};
    long limit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
                         files.rlim_cur < static_cast<rlim_t>(INT_MAX)
                     ? static_cast<long>(files.rlim_cur)
                     : 1024;
    char sh[] = "sh", dashC[] = "-c";
    char *argv[] = {sh, dashC, const_cast<char *>(command), nullptr};
    int savedErrno = errno;
    pid_t pid = ::vfork();
    if (pid == 0) {
        close_inherited_descriptors(limit);
        ::execve("/bin/sh", argv, envp);
        ::_exit(127);
    }
    if (pid > 0) errno = savedErrno;  // the child's calls share our errno
    return pid;
}

pid_t native::spawn_shell(const char *command) {
    return spawn_shell_with(command, environ);
}

}  // namespace zq::port
