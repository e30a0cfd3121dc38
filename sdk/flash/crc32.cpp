#include "flash/crc32.h"

#include <array>
#include <cstring>

namespace zq::flash {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Sixteen 256-entry tables: the first is the classic byte table that
// follows from the polynomial; table k advances a byte k more positions, so
// sixteen bytes are folded in per loop pass with short dependency chains.
// All of it is built at compile time (16 KiB of constants).
using Tables = std::array<std::array<uint32_t, 256>, 16>;

constexpr Tables make_tables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][i] = c;
    }
    for (size_t k = 1; k < t.size(); ++k)
        for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    return t;
}

constexpr Tables kTables = make_tables();
static_assert(kTables[0][1] == 0x77073096u, "byte table follows from the polynomial");

inline uint32_t load_le32(const unsigned char *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const void *data, size_t len) noexcept {
    const auto *p = static_cast<const unsigned char *>(data);
    uint32_t c = ~crc;
    for (; len >= 16; len -= 16, p += 16) {
        uint32_t a = load_le32(p) ^ c, b = load_le32(p + 4), d = load_le32(p + 8),
                 e = load_le32(p + 12);
        c = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
            kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
            kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][d & 0xFF] ^
            kTables[6][(d >> 8) & 0xFF] ^ kTables[5][(d >> 16) & 0xFF] ^ kTables[4][d >> 24] ^
            kTables[3][e & 0xFF] ^ kTables[2][(e >> 8) & 0xFF] ^ kTables[1][(e >> 16) & 0xFF] ^
            kTables[0][e >> 24];
    }
    while (len--) c = kTables[0][(c ^ *p++) & 0xFFu] ^ (c >> 8);
    return ~c;
}

uint32_t crc32(const void *data, size_t len) noexcept {
    return crc32_update(0, data, len);
}

}  // namespace zq::flash
