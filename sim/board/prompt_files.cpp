// The voice prompt files of a new board, synthesised here and encoded with
// an A-law codec of the board's own (not the SDK's), so that a board never
// needs recorded audio and a fault in the SDK's decoder shows on the speaker.
#include "board/prompt_files.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "board/parts.h"
#include "emul/file_util.h"

namespace zq::sim {
namespace {

constexpr double kRate = 8000.0;
constexpr double kPi = 3.14159265358979323846;

// Linear fade over the first and last few milliseconds, so that the sound
// starts and ends without a click.
double fade(int i, double inSeconds, double outSeconds) {
    const double t = i / kRate, left = (kPromptSamples - i) / kRate;
    return std::min({1.0, t / inSeconds, left / outSeconds});
}

// One struck note: a quick attack, then an exponential decay, with a soft
// second harmonic for a bell-like colour.
double chime_note(double t, double frequency) {
    if (t < 0) return 0;
    const double envelope = std::min(1.0, t / 0.008) * std::exp(-t / 0.22);
    return envelope * (std::sin(2 * kPi * frequency * t) + 0.3 * std::sin(4 * kPi * frequency * t));
}

// Success: E5 then A5, the second note struck while the first rings out.
std::vector<double> success_sound() {
    std::vector<double> wave(kPromptSamples);
    for (int i = 0; i < kPromptSamples; ++i) {
        const double t = i / kRate;
        wave[i] =
            0.45 * (chime_note(t, 659.25) + chime_note(t - 0.4, 880.0)) * fade(i, 0.005, 0.03);
    }
    return wave;
}

// Failure: a square-ish tone (odd harmonics 1, 3, 5, 7) gliding down an
// octave from 220 Hz.
std::vector<double> failure_sound() {
    std::vector<double> wave(kPromptSamples);
    double phase = 0;
    for (int i = 0; i < kPromptSamples; ++i) {
        const double t = i / kRate;
        phase += 2 * kPi * 220.0 * std::pow(0.5, t) / kRate;
        double buzz = 0;
        for (int n = 1; n <= 7; n += 2) buzz += std::sin(n * phase) / n;
        wave[i] = 0.5 * buzz * fade(i, 0.02, 0.06);
    }
    return wave;
}

// A-law from the codec's segment rule: the 13-bit magnitude's segment (its
// highest set bit above bit 4) and the four bits below it, every other bit
// inverted (0x55); bit 7 set for positive samples.
uint8_t alaw_code(int sample) {
    int v = sample >> 3;
    const int mask = v >= 0 ? 0xD5 : 0x55;
    if (v < 0) v = -v - 1;
    int segment = 0;
    while (segment < 8 && v >= (0x20 << segment)) ++segment;
    if (segment == 8) return static_cast<uint8_t>(0x7F ^ mask);
    const int mantissa = (segment < 2 ? v >> 1 : v >> segment) & 0xF;
    return static_cast<uint8_t>(((segment << 4) | mantissa) ^ mask);
}

int16_t alaw_sample(uint8_t code) {
    const int a = code ^ 0x55, segment = (a >> 4) & 7;
    int magnitude = (a & 0xF) << 4;
    magnitude = segment == 0 ? magnitude + 8 : (magnitude + 0x108) << (segment - 1);
    return static_cast<int16_t>(a & 0x80 ? magnitude : -magnitude);
}

std::vector<uint8_t> encode_alaw(const std::vector<double> &wave) {
    std::vector<uint8_t> codes(wave.size());
    std::transform(wave.begin(), wave.end(), codes.begin(), [](double v) {
        return alaw_code(static_cast<int>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0)));
    });
    return codes;
}

bool write_prompt(const std::string &path, Prompt which) {
    const std::vector<uint8_t> bytes = prompt_bytes(which);
    return write_file_whole(path, {reinterpret_cast<const char *>(bytes.data()), bytes.size()},
                            0644, nullptr);
}

bool prompts_create(const std::string &dir, json_object *, std::string *error) {
    if (write_prompt_files(dir)) return true;
    if (error) *error = dir + kPromptDir + ": prompt files cannot be written";
    return false;
}

}  // namespace

const BoardPart kPromptPart = {"prompts", prompts_create, nullptr};

std::vector<uint8_t> prompt_bytes(Prompt which) {
    return encode_alaw(which == Prompt::Success ? success_sound() : failure_sound());
}

bool write_prompt_files(const std::string &dir, const std::string &boardDirPath) {
    const std::string host = dir + boardDirPath;
    std::error_code ec;
    std::filesystem::create_directories(host, ec);
    return !ec && write_prompt(host + "/" + kSuccessPromptFile, Prompt::Success) &&
           write_prompt(host + "/" + kFailurePromptFile, Prompt::Failure);
}

std::vector<int16_t> speaker_samples(const std::vector<uint8_t> &alaw) {
    std::vector<int16_t> samples(alaw.size());
    std::transform(alaw.begin(), alaw.end(), samples.begin(), alaw_sample);
    return samples;
}

}  // namespace zq::sim
