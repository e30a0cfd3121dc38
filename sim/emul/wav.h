// WAV files of the board's speaker and microphone: 16-bit mono 8000 Hz PCM.
// One reader and one writer, shared by both emulators and their
// test-facing functions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

constexpr uint32_t kWavRate = 8000;
constexpr size_t kWavHeaderBytes = 44;

// The canonical 44-byte header (RIFF, "fmt " of 16 bytes, "data") for
// dataBytes bytes of samples.
std::array<uint8_t, kWavHeaderBytes> wav_header(uint32_t dataBytes);

// Where the samples of a WAV file lie.
struct WavData {
    uint64_t offset = 0;  // of the first sample byte
    uint32_t bytes = 0;   // whole samples only; never beyond the end of the file
};

enum class WavProblem { None, Absent, NotWav, WrongFormat };

// Finds the "data" chunk of the file open at fd (any chunks may come before
// it). WrongFormat when it is a WAV file but not 16-bit mono 8000 Hz PCM.
WavProblem wav_locate(int fd, WavData *data);

// The samples of a 16-bit mono 8000 Hz WAV file; empty when it is absent or
// not such a file.
std::vector<int16_t> wav_read_samples(const std::string &path);

// Writes a whole WAV file of samples; readers see the old or the new file, never half of one.
bool wav_write_samples(const std::string &path, const std::vector<int16_t> &samples);

// Appends samples to a WAV file made by this writer (a new one when it is
// absent or not one), keeping its header sizes up to date. Writers of
// several processes take turns under a file lock. False when the file
// cannot be written or would outgrow the format's 4 GiB.
bool wav_append(const std::string &path, const void *samples, size_t bytes);

}  // namespace zq::sim
