// G.711 against a reference written here from the codec's segment rules
// (segment starts, step sizes, interval midpoints), for every code and
// every 16-bit sample, through both the per-sample and the buffer calls.
#include <gtest/gtest.h>

#include <vector>

#include "zq_g711.h"

namespace {

// ---- reference: A-law on 13-bit magnitudes ----

constexpr int kAlawStart[8] = {0, 32, 64, 128, 256, 512, 1024, 2048};

int alaw_step(int segment) {
    return segment <= 1 ? 2 : 1 << segment;
}

// The transmitted character of a non-negative sample: sign bit 1, even bits inverted.
u8 ref_alaw_positive(int sample) {
    const int v = sample >> 3;
    int segment = 7;
    while (v < kAlawStart[segment]) --segment;
    const int mantissa = (v - kAlawStart[segment]) / alaw_step(segment);
    return static_cast<u8>((0x80 | segment << 4 | mantissa) ^ 0x55);
}

// The midpoint of the code's interval.
s16 ref_alaw_decode(u8 code) {
    const int d = code ^ 0x55;
    const int segment = (d >> 4) & 7, mantissa = d & 0xF;
    const int step = alaw_step(segment);
    const int v = kAlawStart[segment] + step * mantissa + step / 2;
    return static_cast<s16>(d & 0x80 ? v * 8 : -v * 8);
}

// ---- reference: mu-law on 14-bit magnitudes, segment e from (32 << e) - 33 ----

u8 ref_ulaw_positive(int sample) {
    const int v = sample >> 2;
    if (v >= 8159) return 0x80;  // beyond the last decision level
    int segment = 0;
    while (segment < 7 && v >= (64 << segment) - 33) ++segment;
    const int mantissa = (v + 33 - (32 << segment)) / (2 << segment);
    return static_cast<u8>(0xFF ^ (segment << 4 | mantissa));
}

s16 ref_ulaw_decode(u8 code) {
    const int u = 0xFF ^ code;
    const int segment = (u >> 4) & 7, mantissa = u & 0xF;
    int v = ((2 * mantissa + 33) << segment) - 33;
    const int sample = v == 0 ? 2 : v * 4;  // the zero codes keep their sign: +2 and -2
    return static_cast<s16>(u & 0x80 ? -sample : sample);
}

// ---- the encoding rules: quantise the magnitude, then apply the sign ----

int magnitude(int s) {
    return s < 0 ? (s == -32768 ? 32767 : -s) : s;
}

u8 ref_alaw_encode(int s) {
    const u8 code = ref_alaw_positive(16 * (magnitude(s) / 16));
    return s < 0 ? code & 0x7F : code;
}

u8 ref_ulaw_encode(int s) {
    const int m = magnitude(s);
    const u8 code = m <= 3 ? 0xFF : ref_ulaw_positive(8 * ((m - 4) / 8) + 4);
    return s < 0 ? code & 0x7F : code;
}

std::vector<s16> every_sample() {
    std::vector<s16> all;
    for (int s = -32768; s <= 32767; ++s) all.push_back(static_cast<s16>(s));
    return all;
}

TEST(G711, DecodedValuesOfTheRules) {
    EXPECT_EQ(g711a_decode_sample(0xD5), 8);
    EXPECT_EQ(g711a_decode_sample(0x55), -8);
    EXPECT_EQ(g711a_decode_sample(0xAA), 32256);
    EXPECT_EQ(g711a_decode_sample(0x00), -5504);
    const u8 ulaw[4] = {0x80, 0x00, 0xFF, 0x7F};
    s16 out[4];
    u32 len = 0;
    EXPECT_EQ(g711u_decode(ulaw, out, 4, &len), 1);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(out[0], 32124);
    EXPECT_EQ(out[1], -32124);
    EXPECT_EQ(out[2], 2);
    EXPECT_EQ(out[3], -2);
}

TEST(G711, EncodedCodesOfTheRules) {
    EXPECT_EQ(g711a_encode_sample(0), 0xD5);
    EXPECT_EQ(g711a_encode_sample(1000), 0xFA);
    EXPECT_EQ(g711a_encode_sample(-1000), 0x7A);
    EXPECT_EQ(g711a_encode_sample(32767), 0xAA);
    EXPECT_EQ(g711a_encode_sample(-32768), 0x2A);
    EXPECT_EQ(g711u_encode_sample(0), 0xFF);
    EXPECT_EQ(g711u_encode_sample(-3), 0x7F);
    EXPECT_EQ(g711u_encode_sample(1000), 0xCE);
    EXPECT_EQ(g711u_encode_sample(-1000), 0x4E);
    EXPECT_EQ(g711u_encode_sample(32767), 0x80);
    EXPECT_EQ(g711u_encode_sample(-32768), 0x00);
}

// 259 codes: every code once, plus a tail that is not a whole unrolled pass.
TEST(G711, EveryCodeDecodesToItsIntervalMidpoint) {
    std::vector<u8> codes;
    for (int c = 0; c < 259; ++c) codes.push_back(static_cast<u8>(c));
    std::vector<s16> alaw(codes.size(), 0x5A5A), ulaw(codes.size(), 0x5A5A);
    u32 alawLen = 0, ulawLen = 0;
    EXPECT_EQ(g711a_decode(codes.data(), alaw.data(), 259, &alawLen), 1);
    EXPECT_EQ(g711u_decode(codes.data(), ulaw.data(), 259, &ulawLen), 1);
    EXPECT_EQ(alawLen, 518u);
    EXPECT_EQ(ulawLen, 518u);
    for (size_t i = 0; i < codes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(alaw[i], ref_alaw_decode(codes[i]));
        EXPECT_EQ(g711a_decode_sample(codes[i]), ref_alaw_decode(codes[i]));
        EXPECT_EQ(ulaw[i], ref_ulaw_decode(codes[i]));
    }
}

TEST(G711, EverySampleEncodesByTheRules) {
    const std::vector<s16> all = every_sample();
    std::vector<u8> alaw(all.size() + 1, 0xEE), ulaw(all.size() + 1, 0xEE);
    u32 alawLen = 7, ulawLen = 7;
    // Byte counts: a trailing odd byte is not a sample.
    const u32 bytes = static_cast<u32>(all.size() * 2 + 1);
    EXPECT_EQ(g711a_encode(all.data(), alaw.data(), bytes, &alawLen), 1);
    EXPECT_EQ(g711u_encode(all.data(), ulaw.data(), bytes, &ulawLen), 1);
    EXPECT_EQ(alawLen, 65536u);
    EXPECT_EQ(ulawLen, 65536u);
    EXPECT_EQ(alaw.back(), 0xEE);
    int mismatches = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        const int s = all[i];
        const bool ok = alaw[i] == ref_alaw_encode(s) && ulaw[i] == ref_ulaw_encode(s) &&
                        g711a_encode_sample(all[i]) == alaw[i] &&
                        g711u_encode_sample(all[i]) == ulaw[i];
        if (!ok && ++mismatches <= 5) ADD_FAILURE() << "sample " << s;
    }
    EXPECT_EQ(mismatches, 0);
}

// Quantising the magnitude first changes nothing for s >= 0: the codes are
// the codec's own, and s and -s differ only in the sign bit.
TEST(G711, NonNegativeSamplesGetTheCodecsOwnCodes) {
    for (int s = 0; s <= 32767; ++s) {
        const s16 v = static_cast<s16>(s);
        ASSERT_EQ(g711a_encode_sample(v), ref_alaw_positive(s)) << s;
        ASSERT_EQ(g711u_encode_sample(v), ref_ulaw_positive(s)) << s;
        if (s == 0) continue;  // -0 is 0: a positive sample
        ASSERT_EQ(g711a_encode_sample(static_cast<s16>(-s)), g711a_encode_sample(v) & 0x7F) << s;
        ASSERT_EQ(g711u_encode_sample(static_cast<s16>(-s)), g711u_encode_sample(v) & 0x7F) << s;
    }
}

TEST(G711, EveryCodeSurvivesDecodeThenEncode) {
    for (int c = 0; c < 256; ++c) {
        const u8 code = static_cast<u8>(c);
        s16 value = 0;
        u32 len = 0;
        EXPECT_EQ(g711a_encode_sample(g711a_decode_sample(code)), code) << c;
        g711u_decode(&code, &value, 1, &len);
        EXPECT_EQ(g711u_encode_sample(value), code) << c;
    }
}

TEST(G711, EmptyAndNullBuffers) {
    u32 len = 99;
    EXPECT_EQ(g711a_decode(nullptr, nullptr, 0, &len), 1);
    EXPECT_EQ(len, 0u);
    s16 sample = 1000;
    u8 code = 0;
    len = 99;
    EXPECT_EQ(g711a_encode(&sample, &code, 1, &len), 1);  // half a sample
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(code, 0);
    // Work to do without a buffer: nothing converted, failure reported.
    EXPECT_EQ(g711u_decode(nullptr, &sample, 4, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(g711u_encode(&sample, nullptr, 2, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(g711a_encode(&sample, &code, 2, nullptr), 1);
    EXPECT_EQ(code, 0xFA);
}

}  // namespace
