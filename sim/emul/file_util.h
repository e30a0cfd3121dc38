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

// Writes text to path through a temporary file beside it, given its mode
// before it is renamed into place: a shell looking a tool up on the board's
// PATH sees the old file or the whole new one, always executable, and never
// falls through to the host's tool of the same name. On failure the old file
// stays and error (when given) says why.
inline bool write_file_whole(const std::string &path, std::string_view text, mode_t mode,
                             std::string *error) {
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0;
    for (size_t at = 0; ok && at < text.size();) {
        ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        at += ok ? static_cast<size_t>(n) : 0;
    }
    if (fd >= 0) ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        if (error) *error = path + ": cannot be written (" + std::strerror(errno) + ")";
        if (fd >= 0) ::unlink(temporary.c_str());
    }
    return ok;
}

}  // namespace zq::sim
