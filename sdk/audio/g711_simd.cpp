// G.711 decoding by vector arithmetic, without tables. On 32-bit ARM this
// file alone is built for NEON, so it holds nothing but the kernels, which
// run only once the CPU is known to have NEON.
//
// After the law's mask (0xD5 for A-law, 0xFF for mu-law) bit 7 of a code is
// set for a negative sample and the low seven bits are segment and mantissa
// m. Both laws then start from F = (2m + 33) << (segment + 2):
//   A-law  |s| = F - max(256 - F, 0)  (segment 0 has no leading one: 2F - 256)
//   mu-law |s| = max(F - 132, 2)      (the zero codes play as +2 and -2)
#include "audio/g711_impl.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__arm__)
#include <arm_neon.h>
#endif

namespace zq::g711 {
namespace {

constexpr u8 kAlawMask = 0xD5;
constexpr u8 kUlawMask = 0xFF;

#if defined(__x86_64__)

// x86 cannot shift each 16-bit lane by its own count, so F is made as a
// float: exponent 134 + segment and mantissa bits (m, 1) give
// 2^(segment + 7) * (1 + (2m + 1) / 32), which is F and converts to an
// integer exactly. The float's upper half is ((code & 0x7F) << 3) plus
// this, its lower half 0.
constexpr short kFloatUpper = (134 << 7) | 4;

// Eight codes, each in the high byte of a lane, to samples.
template <bool Alaw>
__m128i samples_sse2(__m128i codes) {
    const __m128i negative = _mm_srai_epi16(codes, 15);
    const __m128i upper =
        _mm_add_epi16(_mm_and_si128(_mm_srli_epi16(codes, 5), _mm_set1_epi16(0x3F8)),
                      _mm_set1_epi16(kFloatUpper));
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_cvttps_epi32(_mm_castsi128_ps(_mm_unpacklo_epi16(zero, upper)));
    const __m128i hi = _mm_cvttps_epi32(_mm_castsi128_ps(_mm_unpackhi_epi16(zero, upper)));
    const __m128i f = _mm_packs_epi32(lo, hi);
    const __m128i magnitude =
        Alaw ? _mm_sub_epi16(f, _mm_subs_epu16(_mm_set1_epi16(256), f))
             : _mm_max_epi16(_mm_sub_epi16(f, _mm_set1_epi16(132)), _mm_set1_epi16(2));
    return _mm_sub_epi16(_mm_xor_si128(magnitude, negative), negative);
}

template <bool Alaw>
u32 groups_sse2(const u8 *src, s16 *dst, u32 n) {
    const __m128i mask = _mm_set1_epi8(static_cast<char>(Alaw ? kAlawMask : kUlawMask));
    const __m128i zero = _mm_setzero_si128();
    const u32 whole = n & ~u32{15};
    for (u32 i = 0; i < whole; i += 16) {
        const __m128i codes =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i)), mask);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i),
                         samples_sse2<Alaw>(_mm_unpacklo_epi8(zero, codes)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i + 8),
                         samples_sse2<Alaw>(_mm_unpackhi_epi8(zero, codes)));
    }
    return whole;
}

// The same on sixteen lanes.
template <bool Alaw>
__attribute__((target("avx2"))) __m256i samples_avx2(__m256i codes) {
    const __m256i negative = _mm256_srai_epi16(codes, 15);
    const __m256i upper =
        _mm256_add_epi16(_mm256_and_si256(_mm256_srli_epi16(codes, 5), _mm256_set1_epi16(0x3F8)),
                         _mm256_set1_epi16(kFloatUpper));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_cvttps_epi32(_mm256_castsi256_ps(_mm256_unpacklo_epi16(zero, upper)));
    const __m256i hi = _mm256_cvttps_epi32(_mm256_castsi256_ps(_mm256_unpackhi_epi16(zero, upper)));
    const __m256i f = _mm256_packs_epi32(lo, hi);
    const __m256i magnitude =
        Alaw ? _mm256_sub_epi16(f, _mm256_subs_epu16(_mm256_set1_epi16(256), f))
             : _mm256_max_epi16(_mm256_sub_epi16(f, _mm256_set1_epi16(132)), _mm256_set1_epi16(2));
    return _mm256_sub_epi16(_mm256_xor_si256(magnitude, negative), negative);
}

// Unpacking works within 128-bit halves, so the 8-byte quarters of the codes
// are put in the order 0, 2, 1, 3 first; the samples then come out in order.
template <bool Alaw>
__attribute__((target("avx2"))) u32 groups_avx2(const u8 *src, s16 *dst, u32 n) {
    const __m256i mask = _mm256_set1_epi8(static_cast<char>(Alaw ? kAlawMask : kUlawMask));
    const __m256i zero = _mm256_setzero_si256();
    const u32 whole = n & ~u32{31};
    for (u32 i = 0; i < whole; i += 32) {
        const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
        const __m256i codes = _mm256_xor_si256(_mm256_permute4x64_epi64(loaded, 0xD8), mask);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i),
                            samples_avx2<Alaw>(_mm256_unpacklo_epi8(zero, codes)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i + 16),
                            samples_avx2<Alaw>(_mm256_unpackhi_epi8(zero, codes)));
    }
    return whole;
}

#elif defined(__arm__)

// Eight codes to samples; NEON shifts each lane by its own count.
template <bool Alaw>
int16x8_t samples_neon(uint8x8_t base, uint8x8_t shift, int8x8_t negative) {
    const uint16x8_t f = vshlq_u16(vmovl_u8(base), vreinterpretq_s16_u16(vmovl_u8(shift)));
    const uint16x8_t magnitude = Alaw ? vsubq_u16(f, vqsubq_u16(vdupq_n_u16(256), f))
                                      : vmaxq_u16(vsubq_u16(f, vdupq_n_u16(132)), vdupq_n_u16(2));
    const int16x8_t sign = vmovl_s8(negative);
    return vsubq_s16(veorq_s16(vreinterpretq_s16_u16(magnitude), sign), sign);
}

template <bool Alaw>
u32 groups_neon(const u8 *src, s16 *dst, u32 n) {
    const u32 whole = n & ~u32{15};
    for (u32 i = 0; i < whole; i += 16) {
        const uint8x16_t codes =
            veorq_u8(vld1q_u8(src + i), vdupq_n_u8(Alaw ? kAlawMask : kUlawMask));
        const int8x16_t negative = vshrq_n_s8(vreinterpretq_s8_u8(codes), 7);
        // 2m + 33 and segment + 2 still fit bytes: sixteen lanes a step.
        const uint8x16_t base =
            vorrq_u8(vandq_u8(vshlq_n_u8(codes, 1), vdupq_n_u8(0x1E)), vdupq_n_u8(0x21));
        const uint8x16_t shift =
            vaddq_u8(vandq_u8(vshrq_n_u8(codes, 4), vdupq_n_u8(7)), vdupq_n_u8(2));
        vst1q_s16(dst + i,
                  samples_neon<Alaw>(vget_low_u8(base), vget_low_u8(shift), vget_low_s8(negative)));
        vst1q_s16(dst + i + 8, samples_neon<Alaw>(vget_high_u8(base), vget_high_u8(shift),
                                                  vget_high_s8(negative)));
    }
    return whole;
}

#endif

}  // namespace

#if defined(__x86_64__)

u32 alaw_groups_sse2(const u8 *src, s16 *dst, u32 n) {
    return groups_sse2<true>(src, dst, n);
}

u32 ulaw_groups_sse2(const u8 *src, s16 *dst, u32 n) {
    return groups_sse2<false>(src, dst, n);
}

u32 alaw_groups_avx2(const u8 *src, s16 *dst, u32 n) {
    return groups_avx2<true>(src, dst, n);
}

u32 ulaw_groups_avx2(const u8 *src, s16 *dst, u32 n) {
    return groups_avx2<false>(src, dst, n);
}

#elif defined(__arm__)

u32 alaw_groups_neon(const u8 *src, s16 *dst, u32 n) {
    return groups_neon<true>(src, dst, n);
}

u32 ulaw_groups_neon(const u8 *src, s16 *dst, u32 n) {
    return groups_neon<false>(src, dst, n);
}

#endif

}  // namespace zq::g711
