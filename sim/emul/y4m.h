// YUV4MPEG2 video files, as ffmpeg and GStreamer write them: a header line
// "YUV4MPEG2 W<width> H<height> F<num>:<den> ..." then frames, each a line
// "FRAME ..." and the 4:2:0 planes Y, U and V (chroma halved both ways,
// rounded up). The video input's picture sources and the display's
// recording use them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

// The largest width or height a picture source may have.
constexpr uint32_t kSourceMaxSide = 4096;

// Bytes of a 4:2:0 picture of width x height: Y, then U, then V.
inline size_t i420_size(uint32_t width, uint32_t height) {
    const size_t chroma = size_t{(width + 1) / 2} * ((height + 1) / 2);
    return size_t{width} * height + 2 * chroma;
}

// A YUV4MPEG2 file open for reading: its size, rate and where each whole
// frame's planes start. A trailing frame cut short is not counted.
class Y4mReader {
  public:
    Y4mReader() = default;
    Y4mReader(const Y4mReader &) = delete;
    Y4mReader &operator=(const Y4mReader &) = delete;
    ~Y4mReader();

    // Reads the header and finds the frames; false with a reason when the
    // file cannot be read, is no YUV4MPEG2 file, is not 8-bit 4:2:0, has no
    // size or one above kSourceMaxSide, or holds no whole frame.
    bool open(const std::string &path, std::string *error);
    // Frame index's planes (i420_size bytes) into planes; false when the
    // file can no longer give them.
    bool read_frame(size_t index, uint8_t *planes) const;

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t rate_num() const { return rateNum_; }
    uint32_t rate_den() const { return rateDen_; }
    size_t frames() const { return frames_.size(); }

  private:
    int fd_ = -1;
    uint32_t width_ = 0, height_ = 0, rateNum_ = 30, rateDen_ = 1;
    std::vector<off_t> frames_;
};

// The header line of a progressive 4:2:0 file of that size and whole
// frames per second.
std::string y4m_header(uint32_t width, uint32_t height, uint32_t fps);

}  // namespace zq::sim
