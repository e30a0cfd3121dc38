// Small file helpers of the board's emulators.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "port/port.h"

namespace zq::sim {

// Whether n bytes at offset `at` of the file behind fd were read (written) whole.
inline bool read_at(int fd, void *buf, size_t n, uint64_t at) {
    return ::pread(fd, buf, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
}
inline bool write_at(int fd, const void *buf, size_t n, uint64_t at) {
    return ::pwrite(fd, buf, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
}

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

// The whole of the file at path; "" when it cannot be read.
inline std::string read_file(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text = read_all(fd);
    ::close(fd);
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

// Whether two stats show one file unchanged: a file replaced whole or
// rewritten has another inode, size or modification time.
inline bool same_stamp(const struct stat &a, const struct stat &b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace zq::sim
