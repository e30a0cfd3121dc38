// The audio emulators' test-facing face: what the speaker played, what the
// microphone hears, the codec's settings, and their fault knobs.
//
// "/dev/ao" appends every frame to "speaker.wav" in the board directory;
// "/dev/ai" gives frames of "mic.wav" (silence where there is none);
// "/dev/acodec" keeps its settings in its node file "dev/acodec", so every
// process on the board sees them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

constexpr const char *kSpeakerFile = "speaker.wav";
constexpr const char *kMicFile = "mic.wav";

// Everything the speaker has played on the board, in order.
std::vector<int16_t> read_speaker(const std::string &dir);
// Empties "speaker.wav" (a valid WAV without samples).
bool clear_speaker(const std::string &dir);

// Makes "mic.wav" hold samples; open descriptors read on from their place.
bool write_mic(const std::string &dir, const std::vector<int16_t> &samples);

// Speaker fault: once this process has played `frames` frames, every further
// write fails with EIO (-1: never).
bool set_speaker_refusal(const std::string &dir, int64_t frames);

// Microphone fault: reads number `at`, at+1, ... (counted from 1 in each
// process; `count` of them, -1: all from `at` on) return only `bytes` bytes
// at once, or fail with EIO when `bytes` is -1. at 0 turns it off.
bool set_mic_short_reads(const std::string &dir, int64_t at, int64_t count, int64_t bytes);

struct CodecState {
    int outputVolume = 50;
    int outputMute = 0;
    int inputVolume = 50;
};

CodecState read_codec(const std::string &dir);
bool write_codec(const std::string &dir, const CodecState &state);

}  // namespace zq::sim
