// The G.711 decoders behind g711a_decode and g711u_decode: the table loop,
// which runs anywhere, and vector ones for the machines that have them.
// g711.cpp picks one once per process; the tests run each of them.
#pragma once

#include "zq_common.h"

namespace zq::g711 {

// n codes to n samples; the buffers are not checked.
using Decoder = void (*)(const u8 *src, s16 *dst, u32 n);

struct Decoders {
    const char *name;
    Decoder alaw;
    Decoder ulaw;
};

// The decoders this machine runs: the table loop first, the fastest last.
// The public calls use the last.
struct DecoderList {
    Decoders items[3];
    u32 count;
};
const DecoderList &available_decoders();

// Vector kernels (g711_simd.cpp). They decode whole groups of codes (16, or
// 32 with AVX2) and return how many codes that was; the table loop does the
// rest. Only call one once the CPU is known to have its instructions.
#if defined(__x86_64__)
u32 alaw_groups_sse2(const u8 *src, s16 *dst, u32 n);
u32 ulaw_groups_sse2(const u8 *src, s16 *dst, u32 n);
u32 alaw_groups_avx2(const u8 *src, s16 *dst, u32 n);
u32 ulaw_groups_avx2(const u8 *src, s16 *dst, u32 n);
#elif defined(__arm__)
u32 alaw_groups_neon(const u8 *src, s16 *dst, u32 n);
u32 ulaw_groups_neon(const u8 *src, s16 *dst, u32 n);
#endif

}  // namespace zq::g711
