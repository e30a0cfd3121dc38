// Synthetic signals for the microphone path, 8000 samples per second.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "zq_common.h"

namespace signals {

inline s16 clip(double v) {
    return static_cast<s16>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
}

// Speech-like: low-passed noise that swells and fades like syllables
// (white noise when smooth is 0).
inline std::vector<s16> noise(size_t samples, double peak, unsigned seed, double smooth = 0.7) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> white(-1.0, 1.0);
    std::vector<s16> out(samples);
    double low = 0;
    for (size_t t = 0; t < samples; ++t) {
        low = smooth * low + (1 - smooth) * white(rng);
        double swell = smooth > 0 ? 1.5 + 1.5 * std::sin(2 * M_PI * double(t) / 2960) : 1;
        out[t] = clip(peak * low * swell);
    }
    return out;
}

// A quiet voiced sound: two harmonics, loud and soft in turn every 100 ms.
inline std::vector<s16> quiet_voice(size_t samples, double peak) {
    std::vector<s16> out(samples);
    for (size_t t = 0; t < samples; ++t)
        out[t] = clip(((t / 800) % 2 ? 1.0 : 0.3) * peak *
                      (0.66 * std::sin(2 * M_PI * 300 * double(t) / 8000) +
                       0.34 * std::sin(2 * M_PI * 700 * double(t) / 8000)));
    return out;
}

// What a microphone hears of what the speaker played: later and quieter.
inline std::vector<s16> echo_of(const std::vector<s16> &played, size_t delay, double gain) {
    std::vector<s16> out(played.size(), 0);
    for (size_t t = delay; t < played.size(); ++t) out[t] = clip(gain * played[t - delay]);
    return out;
}

// Level in dB relative to full scale over the samples from `from` on.
inline double level_db(const std::vector<s16> &x, size_t from) {
    double sum = 1e-9;
    for (size_t t = from; t < x.size(); ++t) sum += double(x[t]) * x[t];
    return 10 * std::log10(sum / double(x.size() - from) / (32768.0 * 32768.0));
}

}  // namespace signals
