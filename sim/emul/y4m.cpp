// YUV4MPEG2 files (emul/y4m.h).
#include "emul/y4m.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

namespace zq::sim {
namespace {

constexpr size_t kHeaderMax = 4096, kFrameLineMax = 256;
// Enough for an hour at 60 frames per second; later frames are not played.
constexpr size_t kFramesMax = 216000;

// A whole number of at most 9 digits, or 0.
uint32_t digits(const std::string &text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return 0;
    return static_cast<uint32_t>(std::stoul(text));
}

bool full_pread(int fd, void *to, size_t size, off_t at) {
    auto *bytes = static_cast<uint8_t *>(to);
    while (size > 0) {
        const ssize_t got = ::pread(fd, bytes, size, at);
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<size_t>(got);
        at += got;
    }
    return true;
}

}  // namespace

Y4mReader::~Y4mReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool Y4mReader::open(const std::string &path, std::string *error) {
    auto refuse = [&](const std::string &why) {
        *error = path + ": " + why;
        return false;
    };
    if (fd_ >= 0) ::close(fd_);
    frames_.clear();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))
        return refuse("cannot be read");
    char head[kHeaderMax];
    const ssize_t got = ::pread(fd_, head, sizeof head, 0);
    if (got < 10 || std::memcmp(head, "YUV4MPEG2", 9) != 0 || (head[9] != ' ' && head[9] != '\n'))
        return refuse("not a YUV4MPEG2 file");
    const void *end = std::memchr(head, '\n', static_cast<size_t>(got));
    if (!end) return refuse("the header line has no end");
    const size_t headerSize = static_cast<size_t>(static_cast<const char *>(end) - head) + 1;
    std::istringstream tokens(std::string(head + 9, headerSize - 10));
    std::string chroma = "420jpeg";
    for (std::string token; tokens >> token;) {
        const std::string value = token.substr(1);
        if (token[0] == 'W') width_ = digits(value);
        if (token[0] == 'H') height_ = digits(value);
        if (token[0] == 'C') chroma = value;
        if (token[0] == 'F') {
            const size_t colon = value.find(':');
            rateNum_ = digits(value.substr(0, colon));
            rateDen_ = colon == value.npos ? 0 : digits(value.substr(colon + 1));
            if (rateNum_ == 0 || rateDen_ == 0) return refuse("a frame rate that is no ratio");
        }
    }
    if (width_ == 0 || height_ == 0) return refuse("no width and height in the header");
    if (width_ > kSourceMaxSide || height_ > kSourceMaxSide)
        return refuse(std::to_string(width_) + "x" + std::to_string(height_) + " is larger than " +
                      std::to_string(kSourceMaxSide) + " on a side");
    if (chroma != "420jpeg" && chroma != "420paldv" && chroma != "420mpeg2" && chroma != "420")
        return refuse("chroma C" + chroma + " is not 8-bit 4:2:0");
    const off_t frameSize = static_cast<off_t>(i420_size(width_, height_));
    for (off_t at = static_cast<off_t>(headerSize); frames_.size() < kFramesMax;) {
        char line[kFrameLineMax];
        const ssize_t size = ::pread(fd_, line, sizeof line, at);
        if (size < 6 || std::memcmp(line, "FRAME", 5) != 0) break;
        const void *lineEnd = std::memchr(line, '\n', static_cast<size_t>(size));
        if (!lineEnd) break;
        const off_t planes = at + (static_cast<const char *>(lineEnd) - line) + 1;
        if (planes + frameSize > info.st_size) break;
        frames_.push_back(planes);
        at = planes + frameSize;
    }
    if (frames_.empty()) return refuse("holds no whole frame");
    return true;
}

bool Y4mReader::read_frame(size_t index, uint8_t *planes) const {
    return index < frames_.size() &&
           full_pread(fd_, planes, i420_size(width_, height_), frames_[index]);
}

std::string y4m_header(uint32_t width, uint32_t height, uint32_t fps) {
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(fps) + ":1 Ip A1:1 C420jpeg\n";
}

}  // namespace zq::sim
