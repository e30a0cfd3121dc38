// The locked board file of a driver's state.
#include "emul/state_file.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "emul/file_util.h"

namespace zq::sim {

LockedFile::LockedFile(const std::string &hostPath, int flags)
    : fd_(::open(hostPath.c_str(), flags | O_CLOEXEC, 0644)) {
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) continue;
}

// Unlocked before the close: a child forked meanwhile must not keep the lock.
LockedFile::~LockedFile() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

json_object *LockedFile::load_json() const {
    json_object *root = fd_ >= 0 ? json_tokener_parse(read_all(fd_).c_str()) : nullptr;
    if (json_object_is_type(root, json_type_object)) return root;
    json_object_put(root);
    return nullptr;
}

bool LockedFile::store(json_object *root) const {
    std::string text = json_object_to_json_string_ext(root, JSON_C_TO_STRING_SPACED);
    json_object_put(root);
    text += '\n';
    struct stat before {};
    ::fstat(fd_, &before);
    if (::ftruncate(fd_, 0) != 0 || !write_at(fd_, text.data(), text.size(), 0)) return false;
    struct stat after {};
    ::fstat(fd_, &after);
    if (after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
        after.st_mtim.tv_nsec == before.st_mtim.tv_nsec) {
        struct timespec stamps[2] = {{0, UTIME_OMIT}, before.st_mtim};
        if (++stamps[1].tv_nsec == 1000000000L) stamps[1] = {before.st_mtim.tv_sec + 1, 0};
        ::futimens(fd_, stamps);
    }
    return true;
}

}  // namespace zq::sim
