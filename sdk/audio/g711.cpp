// G.711 A-law and mu-law. Every conversion is one lookup in a table made at
// compile time from the segment rules of the codec, except buffer decoding,
// which on machines with vector units computes the samples instead
// (g711_simd.cpp) and leaves the table the codes after the last whole group.
//
// Encoding quantises the magnitude and then applies the sign, so s and -s
// differ only in bit 7 of their codes; -32768 counts as magnitude 32767.
#include <algorithm>
#include <array>
#include <cstring>

#if defined(__arm__)
#include <sys/auxv.h>
#endif

#include "audio/g711_impl.h"
#include "zq_g711.h"

namespace zq::g711 {
namespace {

constexpr u32 kAlawSteps = 2048;  // magnitude / 16
constexpr u32 kUlawSteps = 4096;  // (magnitude - 4) / 8
constexpr u8 kSignBit = 0x80;

// ---- table makers ----

// A-law code of a non-negative 13-bit magnitude (sample >> 3).
constexpr u8 alaw_code(u32 v) {
    u32 segment = 0;
    while (segment < 7 && v >= (32u << segment)) ++segment;
    const u32 mantissa = (segment == 0 ? v >> 1 : v >> segment) & 0xF;
    return static_cast<u8>(((segment << 4) | mantissa) ^ 0xD5);
}

// Mu-law code of a non-negative 14-bit magnitude (sample >> 2); the bias of
// 33 makes every segment start at a power of two.
constexpr u8 ulaw_code(u32 v) {
    const u32 biased = std::min(v, 8158u) + 33;
    u32 segment = 0;
    while (segment < 7 && biased >= (64u << segment)) ++segment;
    const u32 mantissa = (biased >> (segment + 1)) & 0xF;
    return static_cast<u8>(~((segment << 4) | mantissa));
}

constexpr s16 alaw_value(u32 code) {
    const u32 a = code ^ 0x55;
    const u32 mantissa = a & 0xF, segment = (a >> 4) & 7;
    const s32 magnitude = segment == 0
                              ? static_cast<s32>((mantissa << 4) + 8)
                              : static_cast<s32>(((mantissa << 4) + 0x108) << (segment - 1));
    return static_cast<s16>(a & kSignBit ? magnitude : -magnitude);
}

// The two zero codes play as +2 and -2, so that silence keeps its sign.
constexpr s16 ulaw_value(u32 code) {
    const u32 u = ~code & 0xFF;
    const u32 mantissa = u & 0xF, segment = (u >> 4) & 7;
    s32 magnitude = static_cast<s32>((((mantissa << 3) + 0x84) << segment) - 0x84);
    if (magnitude == 0) magnitude = 2;
    return static_cast<s16>(u & kSignBit ? -magnitude : magnitude);
}

template <size_t N, typename T, typename F>
constexpr std::array<T, N> make_table(F entry) {
    std::array<T, N> table{};
    for (size_t i = 0; i < N; ++i) table[i] = entry(static_cast<u32>(i));
    return table;
}

// Index k holds the code of the non-negative sample 16 k.
constexpr auto kAlawEncode =
    make_table<kAlawSteps, u8>([](u32 k) { return alaw_code((16 * k) >> 3); });
// Index k holds the code of the non-negative sample 8 k + 4.
constexpr auto kUlawEncode =
    make_table<kUlawSteps, u8>([](u32 k) { return ulaw_code((8 * k + 4) >> 2); });
using DecodeTable = std::array<s16, 256>;
constexpr DecodeTable kAlawDecode = make_table<256, s16>(alaw_value);
constexpr DecodeTable kUlawDecode = make_table<256, s16>(ulaw_value);

static_assert(kAlawDecode[0xD5] == 8 && kAlawDecode[0x55] == -8 && kAlawDecode[0xAA] == 32256 &&
              kAlawDecode[0x00] == -5504);
static_assert(kUlawDecode[0x80] == 32124 && kUlawDecode[0x00] == -32124 && kUlawDecode[0xFF] == 2 &&
              kUlawDecode[0x7F] == -2);
static_assert(kAlawEncode[0] == 0xD5 && kAlawEncode[1000 / 16] == 0xFA &&
              kAlawEncode[kAlawSteps - 1] == 0xAA);
static_assert(kUlawEncode[(1000 - 4) / 8] == 0xCE && kUlawEncode[kUlawSteps - 1] == 0x80);

// ---- per-sample conversions (branch-free: selects, not jumps) ----

// |s| with -32768 taken as 32767, and the mask that clears the sign bit of
// the code of a negative sample.
struct Magnitude {
    u32 value;
    u8 signMask;
};

inline Magnitude magnitude_of(s16 s) {
    const s32 wide = s;
    const u32 value = static_cast<u32>(std::min(wide < 0 ? -wide : wide, 32767));
    return {value, static_cast<u8>(wide < 0 ? 0x7F : 0xFF)};
}

inline u8 alaw_encode(s16 s) {
    const Magnitude m = magnitude_of(s);
    return kAlawEncode[m.value >> 4] & m.signMask;
}

inline u8 ulaw_encode(s16 s) {
    const Magnitude m = magnitude_of(s);
    const bool quiet = m.value < 4;
    const u8 code = kUlawEncode[quiet ? 0 : (m.value - 4) >> 3];
    return (quiet ? u8{0xFF} : code) & m.signMask;
}

// Byte j (in memory order) of a word loaded from memory.
inline u32 byte_at(u64 word, u32 j) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<u32>(word >> (56 - 8 * j)) & 0xFF;
#else
    return static_cast<u32>(word >> (8 * j)) & 0xFF;
#endif
}

// Sixteen codes per pass, read as two words: the loop then runs at the pace
// of the table loads. (A plain byte loop over a constant table is
// auto-vectorised into something several times slower.)
template <const DecodeTable &kTable>
void table_decode(const u8 *src, s16 *dst, u32 n) {
    u32 i = 0;
    for (; n - i >= 16; i += 16) {
        u64 low, high;
        std::memcpy(&low, src + i, 8);
        std::memcpy(&high, src + i + 8, 8);
        for (u32 j = 0; j < 8; ++j) dst[i + j] = kTable[byte_at(low, j)];
        for (u32 j = 0; j < 8; ++j) dst[i + 8 + j] = kTable[byte_at(high, j)];
    }
    for (; i < n; ++i) dst[i] = kTable[src[i]];
}

// A vector kernel for the whole groups, the table for the rest.
template <u32 (*Groups)(const u8 *, s16 *, u32), const DecodeTable &kTable>
void vector_decode(const u8 *src, s16 *dst, u32 n) {
    const u32 done = Groups(src, dst, n);
    table_decode<kTable>(src + done, dst + done, n - done);
}

DecoderList find_decoders() {
    DecoderList list{};
    list.items[list.count++] = {"table", table_decode<kAlawDecode>, table_decode<kUlawDecode>};
#if defined(__x86_64__)
    list.items[list.count++] = {"sse2", vector_decode<alaw_groups_sse2, kAlawDecode>,
                                vector_decode<ulaw_groups_sse2, kUlawDecode>};
    __builtin_cpu_init();  // this may run before the constructors that do it
    if (__builtin_cpu_supports("avx2"))
        list.items[list.count++] = {"avx2", vector_decode<alaw_groups_avx2, kAlawDecode>,
                                    vector_decode<ulaw_groups_avx2, kUlawDecode>};
#elif defined(__arm__)
    // Not every 32-bit ARM core has NEON.
    if (getauxval(AT_HWCAP) & HWCAP_ARM_NEON)
        list.items[list.count++] = {"neon", vector_decode<alaw_groups_neon, kAlawDecode>,
                                    vector_decode<ulaw_groups_neon, kUlawDecode>};
#endif
    return list;
}

const Decoders &fastest_decoders() {
    const DecoderList &list = available_decoders();
    return list.items[list.count - 1];
}

template <u8 (*Encode)(s16)>
void encode_all(const s16 *src, u8 *dst, u32 n) {
    u32 i = 0;
    for (; n - i >= 8; i += 8) {
        const u8 a = Encode(src[i]), b = Encode(src[i + 1]), c = Encode(src[i + 2]),
                 d = Encode(src[i + 3]), e = Encode(src[i + 4]), f = Encode(src[i + 5]),
                 g = Encode(src[i + 6]), h = Encode(src[i + 7]);
        dst[i] = a, dst[i + 1] = b, dst[i + 2] = c, dst[i + 3] = d;
        dst[i + 4] = e, dst[i + 5] = f, dst[i + 6] = g, dst[i + 7] = h;
    }
    for (; i < n; ++i) dst[i] = Encode(src[i]);
}

// A null buffer with work to do converts nothing and reports failure (0),
// where a plain loop would fault.
s32 decode(Decoder decoder, const u8 *src, s16 *dst, u32 n, u32 *outLen) {
    if (n > 0 && (!src || !dst)) {
        if (outLen) *outLen = 0;
        return 0;
    }
    if (n > 0) decoder(src, dst, n);
    if (outLen) *outLen = 2 * n;
    return 1;
}

template <u8 (*Encode)(s16)>
s32 encode(const s16 *src, u8 *dst, u32 byteLen, u32 *outLen) {
    if (outLen) *outLen = 0;
    const u32 n = byteLen / 2;
    if (n > 0 && (!src || !dst)) return 0;
    encode_all<Encode>(src, dst, n);
    if (outLen) *outLen = n;
    return 1;
}

}  // namespace

// Chosen once; every later call only reads the result.
const DecoderList &available_decoders() {
    static const DecoderList list = find_decoders();
    return list;
}

}  // namespace zq::g711

using namespace zq::g711;

extern "C" {

s32 g711a_decode(const u8 *pSrc, s16 *pDst, u32 u32Len, u32 *pu32OutLen) noexcept {
    return decode(fastest_decoders().alaw, pSrc, pDst, u32Len, pu32OutLen);
}

s32 g711u_decode(const u8 *pSrc, s16 *pDst, u32 u32Len, u32 *pu32OutLen) noexcept {
    return decode(fastest_decoders().ulaw, pSrc, pDst, u32Len, pu32OutLen);
}

s32 g711a_encode(const s16 *pSrc, u8 *pDst, u32 u32Len, u32 *pu32OutLen) noexcept {
    return encode<alaw_encode>(pSrc, pDst, u32Len, pu32OutLen);
}

s32 g711u_encode(const s16 *pSrc, u8 *pDst, u32 u32Len, u32 *pu32OutLen) noexcept {
    return encode<ulaw_encode>(pSrc, pDst, u32Len, pu32OutLen);
}

u8 g711a_encode_sample(s16 s16Sample) noexcept {
    return alaw_encode(s16Sample);
}

u8 g711u_encode_sample(s16 s16Sample) noexcept {
    return ulaw_encode(s16Sample);
}

s16 g711a_decode_sample(u8 u8Code) noexcept {
    return kAlawDecode[u8Code];
}

}  // extern "C"
