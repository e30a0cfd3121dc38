// The device emulators behind the seam. Each one interprets a file of the
// board directory as the device node of the same board path; socket
// emulators stand behind sockets of one address family.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zq::sim {

// What a socket emulator does beyond requests; a null hook leaves the call to
// the host socket that stands for the emulated one.
struct SocketHooks {
    // Makes the host socket that stands for one of the family (type with its flags).
    int (*socket)(int type, int protocol);
    int (*bind)(int fd, const struct sockaddr *address, socklen_t length);
    int (*setsockopt)(int fd, int level, int name, const void *value, socklen_t length);
    ssize_t (*recv)(int fd, void *buf, size_t length, int flags);
    // The socket is about to be closed.
    void (*closing)(int fd);
};

struct Device {
    const char *path;  // board path of the node ("/dev/log"), or a socket's name ("socket:inet")
    int openFlags;     // added to every open (O_APPEND for a text sink)
    // Driver requests; -1 with errno when refused or unknown (null: none, ENOTTY).
    int (*ioctl)(int fd, unsigned long request, void *arg);
    // Optional hooks; nullptr means plain file operations on the backing file.
    ssize_t (*read)(int fd, void *buf, size_t count) = nullptr;
    ssize_t (*write)(int fd, const void *buf, size_t count) = nullptr;
    // Maps length bytes of the device at offset; MAP_FAILED with errno on failure.
    void *(*mmap)(int fd, size_t length, int prot, int flags, off_t offset) = nullptr;
    // Ends a mapping made by mmap (the device sees what was stored into it).
    int (*munmap)(void *addr, size_t length) = nullptr;
    const SocketHooks *socket = nullptr;  // socket emulators only
};

// Hooks for the wrong direction of a one-way node (EINVAL).
ssize_t refuse_read(int fd, void *buf, size_t count);
ssize_t refuse_write(int fd, const void *buf, size_t count);

// A driver's refusal: errno set to error, and -1.
inline int fail(int error) {
    errno = error;
    return -1;
}

// A copy of the request record at arg (which may be unaligned).
template <typename Record>
Record record_of(const void *arg) {
    Record record;
    std::memcpy(&record, arg, sizeof record);
    return record;
}

// Appends printf-style text (up to 255 bytes) to *text: the descriptions of
// a driver's state that vboard shows.
__attribute__((format(printf, 2, 3))) inline void appendf(std::string *text, const char *format,
                                                          ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *text += line;
}

// A request as a driver received it in this process: its code and the
// record's bytes (none without one). Test-facing.
struct RequestSeen {
    unsigned long code;
    std::vector<uint8_t> record;
};

// The requests a driver received in this process, oldest first.
struct RequestLog {
    std::mutex lock;
    std::vector<RequestSeen> seen;

    void add(unsigned long code, const void *record, size_t size) {
        const auto *bytes = static_cast<const uint8_t *>(record);
        std::lock_guard<std::mutex> hold(lock);
        seen.push_back({code, std::vector<uint8_t>(bytes, bytes + (record ? size : 0))});
    }
    std::vector<RequestSeen> list() {
        std::lock_guard<std::mutex> hold(lock);
        return seen;
    }
};

// For a driver that knows one request taking a pointer: false with errno
// ENOTTY for another request, EFAULT for a null argument.
bool known_request(unsigned long request, unsigned long known, const void *arg);

// The emulator of a board path, or null for an ordinary board file.
const Device *find_device(std::string_view boardPath);

// The emulator behind sockets of an address family (AF_INET, ...), or null.
const Device *find_socket_device(int domain);

// The address of the unix socket at hostPath; false (errno ENAMETOOLONG)
// when the path does not fit an address.
bool unix_socket_address(const std::string &hostPath, struct sockaddr_un *address,
                         socklen_t *length);

}  // namespace zq::sim
