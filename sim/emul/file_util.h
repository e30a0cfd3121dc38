// Small file helpers of the board's emulators.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "port/port.h"

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

// Replaces the file at path with text, given mode, with the seam's one writer
// of whole files. On failure the old file stays and error (when given) says why.
inline bool write_file_whole(const std::string &path, std::string_view text, mode_t mode,
                             std::string *error) {
    if (port::write_whole_file(path.c_str(), text.data(), text.size(), mode) == 0) return true;
    if (error) *error = path + ": cannot be written (" + std::strerror(errno) + ")";
    return false;
}

}  // namespace zq::sim
