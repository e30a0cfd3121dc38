// The tables of device emulators; each emulator lives in its own file.
#include "emul/devices.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "emul/board.h"

namespace zq::sim {

extern const Device kLogDevice;
extern const Device kMtdDevice;
extern const Device kMemDeviceEmulator;
extern const Device kInetSocket;
extern const Device kUeventSocket;
extern const Device kSpeakerDevice;
extern const Device kMicDevice;
extern const Device kAcodecDevice;
extern const Device kTempSensorDevice;
extern const Device kMmzDeviceEmulator;
extern const Device kVoDeviceEmulator;
extern const Device kViDeviceEmulator;
extern const Device kRgnDevice;

namespace {

const Device *const kDevices[] = {
    &kLogDevice,        &kMtdDevice,        &kMemDeviceEmulator, &kSpeakerDevice,
    &kMicDevice,        &kAcodecDevice,     &kTempSensorDevice,  &kMmzDeviceEmulator,
    &kVoDeviceEmulator, &kViDeviceEmulator, &kRgnDevice,
};

}  // namespace

ssize_t refuse_read(int, void *, size_t) {
    return fail(EINVAL);
}

ssize_t refuse_write(int, const void *, size_t) {
    return fail(EINVAL);
}

bool known_request(unsigned long request, unsigned long known, const void *arg) {
    errno = request != known ? ENOTTY : EFAULT;
    return request == known && arg;
}

const Device *find_device(std::string_view boardPath) {
    std::string path = normalize(boardPath);
    for (const Device *device : kDevices)
        if (path == device->path) return device;
    return nullptr;
}

const Device *find_socket_device(int domain) {
    return domain == AF_INET ? &kInetSocket : domain == AF_NETLINK ? &kUeventSocket : nullptr;
}

bool unix_socket_address(const std::string &hostPath, struct sockaddr_un *address,
                         socklen_t *length) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (hostPath.empty() || hostPath.size() >= sizeof address->sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address->sun_path, hostPath.c_str(), hostPath.size() + 1);
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + hostPath.size() + 1);
    return true;
}

}  // namespace zq::sim
