// Small file helpers of the board's emulators.
#pragma once

#include <unistd.h>

#include <string>

namespace zq::sim {

// The whole of the file behind fd, read from its start whatever its offset.
inline std::string read_all(int fd) {
    std::string text;
    char chunk[4096];
    for (off_t at = 0;;) {
        ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

}  // namespace zq::sim
