// The device emulators behind the seam. Each one interprets a file of the
// board directory as the device node of the same board path.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace zq::sim {

struct Device {
    const char *path;  // board path of the node, "/dev/log"
    int openFlags;     // added to every open (O_APPEND for a text sink)
    // Driver requests; -1 with errno when refused or unknown.
    int (*ioctl)(int fd, unsigned long request, void *arg);
    // Optional: nullptr means plain file reads and writes on the backing file.
    ssize_t (*read)(int fd, void *buf, size_t count);
    ssize_t (*write)(int fd, const void *buf, size_t count);
};

// The emulator of a board path, or null for an ordinary board file.
const Device *find_device(std::string_view boardPath);

}  // namespace zq::sim
