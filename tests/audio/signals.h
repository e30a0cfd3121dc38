// Synthetic test signals for the microphone path, 8000 samples per second.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace signals {

constexpr double kRate = 8000;

inline int16_t clip(double v) {
    return static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
}

// Speech-like: low-passed noise whose loudness swells and fades like syllables.
inline std::vector<int16_t> speech_like(size_t samples, double peak, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> white(-1.0, 1.0);
    std::vector<int16_t> out(samples);
    double low = 0;
    for (size_t t = 0; t < samples; ++t) {
        low = 0.7 * low + 0.3 * white(rng);
        double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * static_cast<double>(t) / (kRate * 0.37));
        out[t] = clip(peak * 3 * low * envelope);
    }
    return out;
}

// Stationary white noise.
inline std::vector<int16_t> white_noise(size_t samples, double peak, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> white(-peak, peak);
    std::vector<int16_t> out(samples);
    for (int16_t &s : out) s = clip(white(rng));
    return out;
}

// A quiet voiced sound: two harmonics, loud and soft in turn every 100 ms.
inline std::vector<int16_t> quiet_voice(size_t samples, double peak) {
    std::vector<int16_t> out(samples);
    for (size_t t = 0; t < samples; ++t) {
        double time = static_cast<double>(t) / kRate;
        double envelope = (t / 800) % 2 ? 1.0 : 0.3;
        out[t] =
            clip(envelope * peak *
                 (0.66 * std::sin(2 * M_PI * 300 * time) + 0.34 * std::sin(2 * M_PI * 700 * time)));
    }
    return out;
}

// The echo a microphone hears of what the speaker played: delayed, quieter.
inline std::vector<int16_t> echo_of(const std::vector<int16_t> &played, size_t delay, double gain) {
    std::vector<int16_t> out(played.size(), 0);
    for (size_t t = delay; t < played.size(); ++t) out[t] = clip(gain * played[t - delay]);
    return out;
}

// Root mean square level over [from, end) in dB relative to full scale.
inline double level_db(const std::vector<int16_t> &x, size_t from) {
    double sum = 1e-9;
    for (size_t t = from; t < x.size(); ++t) sum += static_cast<double>(x[t]) * x[t];
    return 10 * std::log10(sum / static_cast<double>(x.size() - from) / (32768.0 * 32768.0));
}

}  // namespace signals
