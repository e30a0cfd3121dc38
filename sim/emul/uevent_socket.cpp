// Sockets of family AF_NETLINK: the kernel's uevent feed as this board gives
// it (emul/uevent.h). The board has no other netlink protocol.
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/uevent.h"

namespace zq::sim {
namespace {

constexpr const char *kSubject = "socket:uevent";
constexpr uint32_t kUeventGroup = 1;

int uevent_socket(int type, int protocol) {
    if (protocol != NETLINK_KOBJECT_UEVENT) {
        journal(kSubject, "socket of netlink protocol %d refused: not on the board", protocol);
        return fail(EPROTONOSUPPORT);
    }
    int flags = type & (SOCK_CLOEXEC | SOCK_NONBLOCK);
    if ((type & ~flags) != SOCK_DGRAM && (type & ~flags) != SOCK_RAW) return fail(ESOCKTNOSUPPORT);
    return ::socket(AF_UNIX, SOCK_DGRAM | flags, 0);
}

// A socket file that nobody is bound to any more (its process ended).
bool stale(const sockaddr_un &address, socklen_t length) {
    int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    bool refused = ::connect(probe, reinterpret_cast<const sockaddr *>(&address), length) < 0 &&
                   errno == ECONNREFUSED;
    ::close(probe);
    return refused;
}

int bind_file(int fd, uint32_t port) {
    std::string dir = active_dir() + "/" + kUeventDir;
    ::mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + std::to_string(port);
    sockaddr_un address;
    socklen_t length;
    if (!unix_socket_address(path, &address, &length)) {
        journal(kSubject, "bind port %u refused: the board directory is too long for a socket path",
                port);
        return -1;
    }
    const sockaddr *at = reinterpret_cast<const sockaddr *>(&address);
    int rc = ::bind(fd, at, length);
    if (rc < 0 && errno == EADDRINUSE && stale(address, length)) {
        ::unlink(path.c_str());
        rc = ::bind(fd, at, length);
    }
    if (rc == 0) return 0;
    int error = errno;
    journal(kSubject, "bind port %u refused: %s", port, std::strerror(error));
    return fail(error);
}

int uevent_bind(int fd, const struct sockaddr *address, socklen_t length) {
    if (!address || length < sizeof(sockaddr_nl) || address->sa_family != AF_NETLINK)
        return fail(EINVAL);
    auto nl = record_of<sockaddr_nl>(address);
    // Port 0 asks for one: the kernel's first choice is the process id.
    uint32_t port = nl.nl_pid ? nl.nl_pid : static_cast<uint32_t>(::getpid());
    if (!(nl.nl_groups & kUeventGroup)) {
        journal(kSubject, "bind port %u groups 0x%X: outside the uevent group, hears nothing", port,
                nl.nl_groups);
        return 0;
    }
    if (bind_file(fd, port) < 0) return -1;
    journal(kSubject, "bind port %u groups 0x%X", port, nl.nl_groups);
    return 0;
}

int uevent_setsockopt(int fd, int level, int name, const void *value, socklen_t length) {
    // The forced size needs a privilege on the host; the unix socket's own
    // buffer does not.
    if (level == SOL_SOCKET && name == SO_RCVBUFFORCE) {
        int size = value && length >= sizeof(int) ? record_of<int>(value) : -1;
        journal(kSubject, "setsockopt SO_RCVBUFFORCE %d", size);
        name = SO_RCVBUF;
    }
    return ::setsockopt(fd, level, name, value, length);
}

ssize_t uevent_recv(int fd, void *buf, size_t length, int flags) {
    ssize_t n = ::recv(fd, buf, length, flags);
    if (n > 0) {
        const char *text = static_cast<const char *>(buf);
        journal(kSubject, "received %.*s", static_cast<int>(strnlen(text, static_cast<size_t>(n))),
                text);
    }
    return n;
}

// A bound socket's file goes with it.
void uevent_closing(int fd) {
    sockaddr_un address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0 &&
        length > offsetof(sockaddr_un, sun_path) && address.sun_path[0] == '/')
        ::unlink(address.sun_path);
}

const SocketHooks kUeventHooks = {uevent_socket, uevent_bind, uevent_setsockopt, uevent_recv,
                                  uevent_closing};

}  // namespace

extern const Device kUeventSocket = {"socket:uevent", 0,       nullptr, nullptr,
                                     nullptr,         nullptr, nullptr, &kUeventHooks};

}  // namespace zq::sim
