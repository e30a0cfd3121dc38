// The WAV reader and writer of the speaker and microphone emulators.
#include "emul/wav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "emul/devices.h"
#include "emul/file_util.h"
#include "emul/state_file.h"

namespace zq::sim {
namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples and header fields are stored as the processor holds them: little-endian");

constexpr uint16_t kPcmFormat = 1;
constexpr uint16_t kChannels = 1;
constexpr uint16_t kBitsPerSample = 16;
constexpr uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr uint64_t kMaxRiffBytes = 0xFFFFFFFFu;

template <typename T>
void put(uint8_t *p, T v) {
    std::memcpy(p, &v, sizeof v);
}

bool right_format(const uint8_t *fmt) {
    return record_of<uint16_t>(fmt) == kPcmFormat && record_of<uint16_t>(fmt + 2) == kChannels &&
           record_of<uint32_t>(fmt + 4) == kWavRate &&
           record_of<uint16_t>(fmt + 12) == kBlockAlign &&
           record_of<uint16_t>(fmt + 14) == kBitsPerSample;
}

// Our own header, with sizes that may lag behind the file.
bool own_header(int fd) {
    uint8_t h[kWavHeaderBytes];
    std::array<uint8_t, kWavHeaderBytes> want = wav_header(0);
    if (!read_at(fd, h, sizeof h, 0)) return false;
    return std::memcmp(h, want.data(), 4) == 0 && std::memcmp(h + 8, want.data() + 8, 28) == 0 &&
           std::memcmp(h + 36, "data", 4) == 0;
}

}  // namespace

std::array<uint8_t, kWavHeaderBytes> wav_header(uint32_t dataBytes) {
    std::array<uint8_t, kWavHeaderBytes> h{};
    uint8_t *p = h.data();
    std::memcpy(p, "RIFF", 4);
    put<uint32_t>(
        p + 4, static_cast<uint32_t>(std::min<uint64_t>(36 + uint64_t{dataBytes}, kMaxRiffBytes)));
    std::memcpy(p + 8, "WAVEfmt ", 8);
    put<uint32_t>(p + 16, 16);
    put<uint16_t>(p + 20, kPcmFormat);
    put<uint16_t>(p + 22, kChannels);
    put<uint32_t>(p + 24, kWavRate);
    put<uint32_t>(p + 28, kWavRate * kBlockAlign);
    put<uint16_t>(p + 32, kBlockAlign);
    put<uint16_t>(p + 34, kBitsPerSample);
    std::memcpy(p + 36, "data", 4);
    put<uint32_t>(p + 40, dataBytes);
    return h;
}

WavProblem wav_locate(int fd, WavData *data) {
    if (fd < 0) return WavProblem::Absent;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return WavProblem::Absent;
    uint64_t fileBytes = static_cast<uint64_t>(st.st_size);
    uint8_t riff[12];
    if (!read_at(fd, riff, sizeof riff, 0) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return WavProblem::NotWav;
    bool formatSeen = false;
    // Chunks: a four-letter name, a 32-bit size, the body, a pad byte after odd sizes.
    for (uint64_t at = 12; at + 8 <= fileBytes;) {
        uint8_t chunk[8];
        if (!read_at(fd, chunk, sizeof chunk, at)) return WavProblem::NotWav;
        uint64_t size = record_of<uint32_t>(chunk + 4);
        uint64_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (size < sizeof fmt || !read_at(fd, fmt, sizeof fmt, body)) return WavProblem::NotWav;
            if (!right_format(fmt)) return WavProblem::WrongFormat;
            formatSeen = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!formatSeen) return WavProblem::NotWav;
            // A writer that stopped early (or never set the size) leaves a
            // size beyond the file: the samples end where the file does.
            uint64_t bytes = std::min(size, fileBytes - body);
            data->offset = body;
            data->bytes = static_cast<uint32_t>(bytes - bytes % kBlockAlign);
            return WavProblem::None;
        }
        at = body + size + (size & 1);
    }
    return WavProblem::NotWav;
}

std::vector<int16_t> wav_read_samples(const std::string &path) {
    std::vector<int16_t> samples;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    WavData data;
    if (wav_locate(fd, &data) == WavProblem::None) {
        samples.resize(data.bytes / kBlockAlign);
        if (!read_at(fd, samples.data(), data.bytes, data.offset)) samples.clear();
    }
    if (fd >= 0) ::close(fd);
    return samples;
}

bool wav_write_samples(const std::string &path, const std::vector<int16_t> &samples) {
    uint64_t bytes = uint64_t{samples.size()} * kBlockAlign;
    if (bytes + 36 > kMaxRiffBytes) return false;
    std::array<uint8_t, kWavHeaderBytes> header = wav_header(static_cast<uint32_t>(bytes));
    std::string text(header.begin(), header.end());
    text.append(reinterpret_cast<const char *>(samples.data()), static_cast<size_t>(bytes));
    return write_file_whole(path, text, 0644, nullptr);
}

bool wav_append(const std::string &path, const void *samples, size_t bytes) {
    LockedFile file(path, O_RDWR | O_CREAT);
    const int fd = file.fd();
    struct stat st {};
    bool ok = file.is_open() && ::fstat(fd, &st) == 0;
    uint64_t end = static_cast<uint64_t>(st.st_size);
    // Not ours (or cut short): start a new file rather than append to garbage.
    if (ok && (end < kWavHeaderBytes || !own_header(fd))) {
        ok = ::ftruncate(fd, 0) == 0;
        end = kWavHeaderBytes;
    }
    uint64_t dataBytes = end - kWavHeaderBytes + bytes;
    ok = ok && dataBytes + 36 <= kMaxRiffBytes && write_at(fd, samples, bytes, end);
    // Sizes right after every append, so the file can be read at any time.
    std::array<uint8_t, kWavHeaderBytes> header = wav_header(static_cast<uint32_t>(dataBytes));
    return ok && write_at(fd, header.data(), header.size(), 0);
}

}  // namespace zq::sim
