// The seam's Linux backend: the ops table of straight C-library calls, and
// the board clock helpers.
#include "port/port.h"
#include "port/port_native.h"

namespace zq::port {
namespace {

constexpr Ops kLinuxOps = {
    .open = native::open,
    .close = native::close,
    .read = native::read,
    .write = native::write,
    .lseek = native::lseek,
    .ioctl = native::ioctl,
    .mmap = native::mmap,
    .munmap = native::munmap,
    .fopen = native::fopen,
    .fclose = native::fclose,
    .access = native::access,
    .opendir = native::opendir,
    .socket = native::socket,
    .bind = native::bind,
    .setsockopt = native::setsockopt,
    .recv = native::recv,
    .poll = native::poll,
    .clock_gettime = native::clock_gettime,
    .sleep = native::sleep,
    .system = native::system,
    .popen = native::popen,
    .pclose = native::pclose,
    .host_path = native::host_path,
    .spawn_shell = native::spawn_shell,
    .waitpid = native::waitpid,
    .kill = native::kill,
    .sync = native::sync,
    .reboot = native::reboot,
    .set_realtime = native::set_realtime,
};

}  // namespace

const Ops &linux_ops() {
    return kLinuxOps;
}

int sleep_ns(uint64_t ns) {
    struct timespec d;
    d.tv_sec = static_cast<time_t>(ns / 1000000000u);
    d.tv_nsec = static_cast<long>(ns % 1000000000u);
    return ZQ_SEAM(sleep)(&d);
}

uint64_t monotonic_ns() {
    struct timespec ts {};
    ZQ_SEAM(clock_gettime)(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace zq::port
