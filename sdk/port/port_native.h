// The seam's entries as the board has them: straight calls of the C library.
// The Linux backend's ops table is made of these, and a build without the
// virtual board calls them directly, so that on the board the seam costs
// nothing.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/reboot.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace zq::port::native {

inline int open(const char *path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
inline int close(int fd) {
    return ::close(fd);
}
inline ssize_t read(int fd, void *buf, size_t count) {
    return ::read(fd, buf, count);
}
inline ssize_t write(int fd, const void *buf, size_t count) {
    return ::write(fd, buf, count);
}
inline off_t lseek(int fd, off_t offset, int whence) {
    return ::lseek(fd, offset, whence);
}
inline int ioctl(int fd, unsigned long request, void *arg) {
    return ::ioctl(fd, request, arg);
}
inline void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return ::mmap(addr, length, prot, flags, fd, offset);
}
inline int munmap(void *addr, size_t length) {
    return ::munmap(addr, length);
}
inline FILE *fopen(const char *path, const char *mode) {
    return ::fopen(path, mode);
}
inline int fclose(FILE *stream) {
    return ::fclose(stream);
}
inline int access(const char *path, int mode) {
    return ::access(path, mode);
}
inline DIR *opendir(const char *path) {
    return ::opendir(path);
}
inline int socket(int domain, int type, int protocol) {
    return ::socket(domain, type, protocol);
}
inline int bind(int fd, const struct sockaddr *address, socklen_t length) {
    return ::bind(fd, address, length);
}
inline int setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
    return ::setsockopt(fd, level, name, value, length);
}
inline ssize_t recv(int fd, void *buf, size_t length, int flags) {
    return ::recv(fd, buf, length, flags);
}
inline int poll(struct pollfd *fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}
inline int clock_gettime(clockid_t clock, struct timespec *ts) {
    return ::clock_gettime(clock, ts);
}
inline int sleep(const struct timespec *duration) {
    return ::nanosleep(duration, nullptr);
}
inline int system(const char *command) {
    return ::system(command);
}
inline FILE *popen(const char *command, const char *mode) {
    return ::popen(command, mode);
}
inline int pclose(FILE *stream) {
    return ::pclose(stream);
}
// On the board a board path is the host path.
inline int host_path(const char *boardPath, char *out, size_t outSize) {
    size_t n = std::strlen(boardPath);
    if (n >= outSize) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(out, boardPath, n + 1);
    return 0;
}
pid_t spawn_shell(const char *command, int reportFd);
inline pid_t waitpid(pid_t pid, int *status, int options) {
    return ::waitpid(pid, status, options);
}
inline int kill(pid_t pid, int sig) {
    return ::kill(pid, sig);
}
inline void sync() {
    ::sync();
}
inline int reboot(int command) {
    return ::reboot(command);
}
inline int set_realtime(pthread_t thread, int policy, int priority, const char *) {
    sched_param param{};
    param.sched_priority = priority;
    int rc = ::pthread_setschedparam(thread, policy, &param);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return 0;
}

}  // namespace zq::port::native
