// Helpers for the flash tests: the board's environment and record bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "board/flash_format.h"
#include "emul/flash.h"
#include "support/text_parts.h"

// The entry list of an environment image as text, "\0" between entries,
// up to and including the end-of-list NUL.
inline std::string env_list(const std::vector<uint8_t> &image) {
    std::string list;
    for (size_t i = 4; i + 1 < image.size(); ++i) {
        list += static_cast<char>(image[i]);
        if (image[i] == 0 && image[i + 1] == 0) return list + '\0';
    }
    return list;
}

// By the board's own CRC, not the SDK's; the CRC word is little-endian, as the host.
inline bool env_crc_valid(const std::vector<uint8_t> &image) {
    uint32_t stored = 0;
    std::memcpy(&stored, image.data(), sizeof stored);
    return stored == zq::sim::reference_crc32(image.data() + 4, image.size() - 4);
}

// n bytes counting up from seed.
inline std::vector<uint8_t> payload(size_t n, uint8_t seed) {
    std::vector<uint8_t> p(n);
    std::iota(p.begin(), p.end(), seed);
    return p;
}
