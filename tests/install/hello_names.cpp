// A C++ application with names of its own that the SDK also has inside
// (env_init, g_AudioEngine) and the standard templates the SDK instantiates,
// linked with the installed static library: nothing clashes.
#include <cstdio>
#include <string>
#include <unordered_map>

#include "zq_g711.h"

int env_init() {
    return 7;
}
int g_AudioEngine = 3;

int main() {
    std::unordered_map<unsigned long, unsigned long> seen;
    for (unsigned long i = 0; i < 64; ++i) seen[i] = i * 2;
    const std::string text = std::string("zqsdk: ") + "names";
    const s16 samples[2] = {100, -100};
    u8 codes[2];
    u32 coded = 0;
    g711a_encode(samples, codes, sizeof samples, &coded);
    std::printf("%s %zu %d %d %u\n", text.c_str(), seen.size(), env_init(), g_AudioEngine,
                static_cast<unsigned>(coded));
    return coded == 2 ? 0 : 1;
}
