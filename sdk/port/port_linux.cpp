// The seam's Linux backend: every entry forwards to the C library.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/reboot.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "port/port.h"

namespace zq::port {
namespace {

int linux_open(const char *path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
int linux_ioctl(int fd, unsigned long request, void *arg) {
    return ::ioctl(fd, request, arg);
}
int linux_sleep(const struct timespec *d) {
    return ::nanosleep(d, nullptr);
}

int linux_host_path(const char *boardPath, char *out, size_t outSize) {
    size_t n = std::strlen(boardPath);
    if (n >= outSize) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(out, boardPath, n + 1);
    return 0;
}

int linux_reboot(int command) {
    ::sync();
    return ::reboot(command);
}

int linux_set_realtime(pthread_t thread, int policy, int priority, const char *) {
    sched_param param{};
    param.sched_priority = priority;
    int rc = ::pthread_setschedparam(thread, policy, &param);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return 0;
}

constexpr Ops kLinuxOps = {
    .open = linux_open,
    .close = ::close,
    .read = ::read,
    .write = ::write,
    .lseek = ::lseek,
    .ioctl = linux_ioctl,
    .mmap = ::mmap,
    .munmap = ::munmap,
    .fopen = ::fopen,
    .fclose = ::fclose,
    .access = ::access,
    .opendir = ::opendir,
    .socket = ::socket,
    .clock_gettime = ::clock_gettime,
    .sleep = linux_sleep,
    .system = ::system,
    .popen = ::popen,
    .pclose = ::pclose,
    .host_path = linux_host_path,
    .kill = ::kill,
    .reboot = linux_reboot,
    .set_realtime = linux_set_realtime,
};

}  // namespace

const Ops &linux_ops() {
    return kLinuxOps;
}

int sleep_ns(uint64_t ns) {
    struct timespec d;
    d.tv_sec = static_cast<time_t>(ns / 1000000000u);
    d.tv_nsec = static_cast<long>(ns % 1000000000u);
    return ops().sleep(&d);
}

uint64_t monotonic_ns() {
    struct timespec ts {};
    ops().clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace zq::port
