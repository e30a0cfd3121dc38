// The seam's virtual-board backend: board paths resolve inside the board
// directory, device nodes reach their emulators, clocks run on the board
// clock, shell commands see the board's tools, and only the board's own
// processes can be signalled (those of another user not even they).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/process_table.h"
#include "port/port.h"

extern char **environ;

namespace zq::port {
namespace {

using sim::Device;

// What the SDK lent at the hook: its Linux backend and shell spawner.
NativeParts g_Native{};

std::array<std::atomic<const Device *>, 4096> g_deviceOfFd{};

const Device *device_of(int fd) {
    if (fd < 0 || static_cast<size_t>(fd) >= g_deviceOfFd.size()) return nullptr;
    return g_deviceOfFd[static_cast<size_t>(fd)].load(std::memory_order_acquire);
}

// Notes the emulator behind a new descriptor; false, with the descriptor
// closed (EMFILE), when it lies beyond the table.
bool track(int fd, const Device *device) {
    if (static_cast<size_t>(fd) >= g_deviceOfFd.size()) {
        ::close(fd);
        errno = EMFILE;
        return false;
    }
    g_deviceOfFd[static_cast<size_t>(fd)].store(device, std::memory_order_release);
    return true;
}

// Forgets the emulator behind a descriptor about to be closed.
void untrack(int fd) {
    const Device *device = device_of(fd);
    if (!device) return;
    if (device->socket && device->socket->closing) device->socket->closing(fd);
    track(fd, nullptr);
    sim::journal(device->path, "close");
}

// Things handed out by the backend (mappings, pipes) and what stands behind each.
template <typename Key, typename Value>
struct Registry {
    std::mutex lock;
    std::map<Key, Value> entries;

    void add(Key key, Value value) {
        std::lock_guard<std::mutex> hold(lock);
        entries[key] = value;
    }
    // Removes key and returns its value, or fallback when it is not there.
    Value take(Key key, Value fallback) {
        std::lock_guard<std::mutex> hold(lock);
        auto entry = entries.extract(key);
        return entry ? entry.mapped() : fallback;
    }
};

bool absolute(const char *path) {
    return path && path[0] == '/';
}

int v_open(const char *path, int flags, mode_t mode) {
    if (!absolute(path)) return ::open(path, flags, mode);
    if (sim::device_missing(path)) {
        sim::journal(path, "open refused: device missing");
        return sim::fail(ENOENT);
    }
    const Device *device = sim::find_device(path);
    if (device) flags = (flags & ~O_TRUNC) | device->openFlags;  // a device node is never truncated
    int fd = ::open(sim::resolve(path).c_str(), flags, mode);
    if (device) {
        if (fd < 0 || !track(fd, device)) {
            sim::journal(device->path, "open failed: %s", std::strerror(errno));
            return -1;
        }
        sim::journal(device->path, "open");
    }
    return fd;
}

int v_close(int fd) {
    untrack(fd);
    return ::close(fd);
}

ssize_t v_read(int fd, void *buf, size_t count) {
    const Device *device = device_of(fd);
    return device && device->read ? device->read(fd, buf, count) : ::read(fd, buf, count);
}

ssize_t v_write(int fd, const void *buf, size_t count) {
    const Device *device = device_of(fd);
    return device && device->write ? device->write(fd, buf, count) : ::write(fd, buf, count);
}

int v_ioctl(int fd, unsigned long request, void *arg) {
    const Device *device = device_of(fd);
    if (!device) return ::ioctl(fd, request, arg);
    if (int refusal = sim::request_refusal(device->path, request)) {
        sim::journal(device->path, "ioctl 0x%08lX refused: %s", request, std::strerror(refusal));
        return sim::fail(refusal);
    }
    int rc = device->ioctl ? device->ioctl(fd, request, arg) : sim::fail(ENOTTY);
    if (rc < 0)
        sim::journal(device->path, "ioctl 0x%08lX failed: %s", request, std::strerror(errno));
    else
        sim::journal(device->path, "ioctl 0x%08lX ok", request);
    return rc;
}

// fopen's mode letters as open flags; -1 for a mode fopen does not take.
int open_flags(const char *mode) {
    int flags = std::strchr(mode, '+') ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
    if (mode[0] == 'w')
        flags |= O_CREAT | O_TRUNC;
    else if (mode[0] == 'a')
        flags |= O_CREAT | O_APPEND;
    else if (mode[0] != 'r')
        return -1;
    if (std::strchr(mode, 'e')) flags |= O_CLOEXEC;
    if (std::strchr(mode, 'x')) flags |= O_EXCL;
    return flags;
}

FILE *v_fopen(const char *path, const char *mode) {
    int flags = mode ? open_flags(mode) : -1;
    if (flags < 0) {
        errno = EINVAL;
        return nullptr;
    }
    int fd = v_open(path, flags, 0666);
    if (fd < 0) return nullptr;
    char fdMode[3] = {mode[0], std::strchr(mode, '+') ? '+' : '\0', '\0'};
    FILE *stream = ::fdopen(fd, fdMode);
    if (!stream) {
        int saved = errno;
        v_close(fd);
        errno = saved;
    }
    return stream;
}

int v_fclose(FILE *stream) {
    untrack(::fileno(stream));
    return ::fclose(stream);
}

int v_access(const char *path, int mode) {
    if (absolute(path) && sim::device_missing(path)) return sim::fail(ENOENT);
    return ::access(absolute(path) ? sim::resolve(path).c_str() : path, mode);
}

DIR *v_opendir(const char *path) {
    if (absolute(path) && sim::normalize(path) == "/proc")
        sim::refresh_board_processes(sim::active_dir());
    return ::opendir(absolute(path) ? sim::resolve(path).c_str() : path);
}

int v_socket(int domain, int type, int protocol) {
    const Device *device = sim::find_socket_device(domain);
    // A board without the family (the "missing" knob) cannot make such sockets.
    if (device && sim::device_missing(device->path)) {
        sim::journal(device->path, "socket refused: family missing");
        return sim::fail(EAFNOSUPPORT);
    }
    int fd = device && device->socket && device->socket->socket
                 ? device->socket->socket(type, protocol)
                 : ::socket(domain, type, protocol);
    return fd >= 0 && device && !track(fd, device) ? -1 : fd;
}

const sim::SocketHooks *socket_hooks(int fd) {
    const Device *device = device_of(fd);
    return device ? device->socket : nullptr;
}

// A unix socket's file is a board path like any other.
int bind_unix(int fd, const struct sockaddr_un *address, socklen_t length) {
    size_t room = length - offsetof(sockaddr_un, sun_path);
    std::string boardPath(address->sun_path, strnlen(address->sun_path, room));
    sockaddr_un host;
    socklen_t hostLength;
    if (!sim::unix_socket_address(sim::resolve(boardPath), &host, &hostLength)) return -1;
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&host), hostLength);
}

int v_bind(int fd, const struct sockaddr *address, socklen_t length) {
    const sim::SocketHooks *hooks = socket_hooks(fd);
    if (hooks && hooks->bind) return hooks->bind(fd, address, length);
    if (address && address->sa_family == AF_UNIX && length > offsetof(sockaddr_un, sun_path) &&
        length <= sizeof(sockaddr_un)) {
        const auto *unixAddress = reinterpret_cast<const sockaddr_un *>(address);
        if (absolute(unixAddress->sun_path)) return bind_unix(fd, unixAddress, length);
    }
    return ::bind(fd, address, length);
}

int v_setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
    const sim::SocketHooks *hooks = socket_hooks(fd);
    return hooks && hooks->setsockopt ? hooks->setsockopt(fd, level, name, value, length)
                                      : ::setsockopt(fd, level, name, value, length);
}

ssize_t v_recv(int fd, void *buf, size_t length, int flags) {
    const sim::SocketHooks *hooks = socket_hooks(fd);
    return hooks && hooks->recv ? hooks->recv(fd, buf, length, flags)
                                : ::recv(fd, buf, length, flags);
}

int v_poll(struct pollfd *fds, nfds_t count, int timeoutMs) {
    return timeoutMs > 0 ? sim::clock_poll(fds, count, timeoutMs) : ::poll(fds, count, timeoutMs);
}

// Mappings made by emulators, so that munmap reaches the same emulator.
Registry<void *, const Device *> g_mappings;

void *v_mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
    const Device *device = device_of(fd);
    if (!device || !device->mmap) return ::mmap(addr, length, prot, flags, fd, offset);
    void *mapping = device->mmap(fd, length, prot, flags, offset);
    if (mapping != MAP_FAILED) g_mappings.add(mapping, device);
    return mapping;
}

int v_munmap(void *addr, size_t length) {
    const Device *device = g_mappings.take(addr, nullptr);
    return device ? device->munmap(addr, length) : ::munmap(addr, length);
}

// The monotonic and calendar clocks run on the board clock; the others are the host's.
int v_clock_gettime(clockid_t clock, struct timespec *ts) {
    if (clock != CLOCK_MONOTONIC && clock != CLOCK_MONOTONIC_RAW &&
        clock != CLOCK_MONOTONIC_COARSE && clock != CLOCK_BOOTTIME && clock != CLOCK_REALTIME &&
        clock != CLOCK_REALTIME_COARSE)
        return ::clock_gettime(clock, ts);
    sim::clock_read(clock, ts);
    return 0;
}

int v_sleep(const struct timespec *duration) {
    sim::clock_sleep(int64_t{duration->tv_sec} * 1000000000 + duration->tv_nsec);
    return 0;
}

// The environment of board commands, as an envp array that lives as long as
// this holder: the board's tools first in PATH, and ZQ_VBOARD so that SDK
// programs started by them run on the same board.
struct BoardEnvironment {
    std::vector<std::string> entries;
    std::vector<char *> envp;
    BoardEnvironment() {
        std::string path = "PATH=" + sim::active_dir() + "/bin";
        for (char **e = environ; e && *e; ++e) {
            if (std::strncmp(*e, "PATH=", 5) == 0)
                path += std::string(":") + (*e + 5);
            else if (std::strncmp(*e, "ZQ_VBOARD=", 10) != 0)
                entries.emplace_back(*e);
        }
        if (path.find(':') == std::string::npos) path += ":/usr/bin:/bin";
        entries.push_back(path);
        entries.push_back("ZQ_VBOARD=" + sim::active_dir());
        for (std::string &e : entries) envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

// Starts "/bin/sh -c command" for a pipe: childFd becomes the child's
// standard input or output.
pid_t spawn_piped_shell(const char *command, int childFd, int childStdFd) {
    BoardEnvironment env;
    char sh[] = "sh", dashC[] = "-c";
    std::string cmd = command;
    char *argv[] = {sh, dashC, cmd.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childFd, childStdFd);
    posix_spawn_file_actions_addclose(&actions, childFd);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, env.envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : sim::fail(rc);
}

pid_t v_spawn_shell(const char *command, int reportFd) {
    if (!command) return sim::fail(EINVAL);
    sim::journal("shell", "%s", command);
    if (sim::operation_fails("fork")) {
        sim::journal("process", "fork refused");
        return sim::fail(EAGAIN);
    }
    BoardEnvironment env;
    return g_Native.spawn_shell_with(command, env.envp.data(), reportFd);
}

pid_t v_waitpid(pid_t pid, int *status, int options) {
    if (sim::operation_fails("wait")) {
        sim::journal("process", "wait for %d refused", static_cast<int>(pid));
        return sim::fail(ECHILD);
    }
    return ::waitpid(pid, status, options);
}

int wait_status(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return status;
}

int v_system(const char *command) {
    if (!command) return 1;
    sim::journal("shell", "%s", command);
    BoardEnvironment env;
    pid_t pid = g_Native.spawn_shell_with(command, env.envp.data(), -1);
    return pid < 0 ? -1 : wait_status(pid);
}

Registry<FILE *, pid_t> g_pipes;

FILE *v_popen(const char *command, const char *mode) {
    bool reading = mode && mode[0] == 'r';
    if (!command || !mode || (!reading && mode[0] != 'w')) {
        errno = EINVAL;
        return nullptr;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0) return nullptr;
    int parentFd = reading ? fds[0] : fds[1];
    int childFd = reading ? fds[1] : fds[0];
    sim::journal("shell", "%s", command);
    pid_t pid = spawn_piped_shell(command, childFd, reading ? STDOUT_FILENO : STDIN_FILENO);
    ::close(childFd);
    FILE *stream = pid < 0 ? nullptr : ::fdopen(parentFd, reading ? "r" : "w");
    if (!stream) {
        ::close(parentFd);
        if (pid > 0) wait_status(pid);
        return nullptr;
    }
    g_pipes.add(stream, pid);
    return stream;
}

int v_pclose(FILE *stream) {
    pid_t pid = g_pipes.take(stream, -1);
    if (pid < 0) return sim::fail(ECHILD);
    ::fclose(stream);
    return wait_status(pid);
}

int v_host_path(const char *boardPath, char *out, size_t outSize) {
    std::string host = absolute(boardPath) ? sim::resolve(boardPath) : boardPath;
    if (host.size() >= outSize) return sim::fail(ENAMETOOLONG);
    std::memcpy(out, host.c_str(), host.size() + 1);
    return 0;
}

int v_kill(pid_t pid, int sig) {
    if (pid <= 0 || !sim::runs_on_board(sim::active_dir(), pid, true)) {
        sim::journal("kill", "pid %d signal %d refused: not a board process", static_cast<int>(pid),
                     sig);
        return sim::fail(ESRCH);
    }
    // A process of another user: the kernel refuses to signal it.
    std::string user = sim::board_process_user(sim::active_dir(), pid);
    if (!user.empty()) {
        sim::journal("kill", "pid %d signal %d refused: a process of user %s",
                     static_cast<int>(pid), sig, user.c_str());
        return sim::fail(EPERM);
    }
    sim::journal("kill", "pid %d signal %d", static_cast<int>(pid), sig);
    return ::kill(pid, sig);
}

void v_sync() {
    sim::journal("sync", "file systems flushed");
}

// The board does not really restart: the request is journaled, and a
// "reboot" fault knob refuses it as a kernel without the right would.
int v_reboot(int command) {
    if (sim::operation_fails("reboot")) {
        sim::journal("reboot", "command 0x%X refused", static_cast<unsigned>(command));
        return sim::fail(EPERM);
    }
    sim::journal("reboot", "command 0x%X", static_cast<unsigned>(command));
    return 0;
}

int v_set_realtime(pthread_t, int policy, int priority, const char *name) {
    sim::journal("sched", "%s policy %d priority %d (not applied)", name ? name : "thread", policy,
                 priority);
    return 0;
}

constexpr Ops kVirtualOps = {
    .open = v_open,
    .close = v_close,
    .read = v_read,
    .write = v_write,
    .lseek = ::lseek,
    .ioctl = v_ioctl,
    .mmap = v_mmap,
    .munmap = v_munmap,
    .fopen = v_fopen,
    .fclose = v_fclose,
    .access = v_access,
    .opendir = v_opendir,
    .socket = v_socket,
    .bind = v_bind,
    .setsockopt = v_setsockopt,
    .recv = v_recv,
    .poll = v_poll,
    .clock_gettime = v_clock_gettime,
    .sleep = v_sleep,
    .system = v_system,
    .popen = v_popen,
    .pclose = v_pclose,
    .host_path = v_host_path,
    .spawn_shell = v_spawn_shell,
    .waitpid = v_waitpid,
    .kill = v_kill,
    .sync = v_sync,
    .reboot = v_reboot,
    .set_realtime = v_set_realtime,
};

}  // namespace

}  // namespace zq::port

// The seam's hook: this table for the board that ZQ_VBOARD names.
extern "C" __attribute__((visibility("default"))) const zq::port::Ops *zq_vboard_ops(
    const zq::port::NativeParts *native) {
    const char *dir = std::getenv("ZQ_VBOARD");
    if (!dir || !*dir) return nullptr;
    zq::port::g_Native = *native;
    std::string error;
    if (!zq::sim::activate(dir, &error)) {
        // Never fall back to real hardware when a virtual board was asked for.
        std::fprintf(stderr, "zqsdk: ZQ_VBOARD=%s is not a virtual board: %s\n", dir,
                     error.c_str());
        std::_Exit(70);
    }
    zq::sim::join_board(zq::sim::active_dir());
    return &zq::port::kVirtualOps;
}
