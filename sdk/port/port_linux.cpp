// The seam's Linux backend: the ops table of straight C-library calls, the
// choice of a virtual board where one is linked in, and the board clock
// helpers.
#include <cstdio>
#include <cstdlib>

#include "port/port.h"
#include "port/port_native.h"

#if ZQ_VIRTUAL_BOARD
// Null unless the program is linked with the virtual board.
extern "C" const zq::port::Ops *zq_vboard_ops(const zq::port::NativeParts *native)
    __attribute__((weak));
#endif

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

#if ZQ_VIRTUAL_BOARD
namespace {

const Ops &choose_ops() {
    static const NativeParts native = {&kLinuxOps, spawn_shell_with};
    if (zq_vboard_ops) {
        const Ops *board = zq_vboard_ops(&native);
        return board ? *board : kLinuxOps;
    }
    const char *dir = std::getenv("ZQ_VBOARD");
    if (dir && *dir) {
        // Never run on real hardware when a virtual board was asked for.
        std::fprintf(stderr, "zqsdk: ZQ_VBOARD=%s, but this program has no virtual board\n", dir);
        std::_Exit(70);
    }
    return kLinuxOps;
}

}  // namespace

const Ops &ops() {
    static const Ops &chosen = choose_ops();
    return chosen;
}
#endif

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
