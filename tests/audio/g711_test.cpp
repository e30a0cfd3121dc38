// G.711 against a reference written here from the codec's segment rules
// (segment starts, step sizes, interval midpoints), for every code and
// every 16-bit sample, through both the per-sample and the buffer calls.
#include <gtest/gtest.h>

#include <vector>

#include "audio/g711_impl.h"
#include "zq_g711.h"

namespace {

// A-law on 13-bit magnitudes: segment starts, steps of 2 in the first two.
constexpr int kAlawStart[8] = {0, 32, 64, 128, 256, 512, 1024, 2048};
int alaw_step(int segment) {
    return segment <= 1 ? 2 : 1 << segment;
}

// The character of a non-negative sample: sign bit 1, even bits inverted.
u8 ref_alaw_positive(int sample) {
    const int v = sample >> 3;
    int segment = 7;
    while (v < kAlawStart[segment]) --segment;
    return static_cast<u8>((0x80 | segment << 4 | (v - kAlawStart[segment]) / alaw_step(segment)) ^
                           0x55);
}

s16 ref_alaw_decode(u8 code) {
    const int d = code ^ 0x55, segment = (d >> 4) & 7, step = alaw_step(segment);
    const int v = kAlawStart[segment] + step * (d & 0xF) + step / 2;  // interval midpoint
    return static_cast<s16>(d & 0x80 ? v * 8 : -v * 8);
}

// Mu-law on 14-bit magnitudes: segment e starts at (32 << e) - 33, step 2 << e.
u8 ref_ulaw_positive(int sample) {
    const int v = sample >> 2;
    if (v >= 8159) return 0x80;  // beyond the last decision level
    int segment = 0;
    while (segment < 7 && v >= (64 << segment) - 33) ++segment;
    return static_cast<u8>(0xFF ^ (segment << 4 | (v + 33 - (32 << segment)) / (2 << segment)));
}

s16 ref_ulaw_decode(u8 code) {
    const int u = 0xFF ^ code, segment = (u >> 4) & 7;
    const int v = ((2 * (u & 0xF) + 33) << segment) - 33;
    const int sample = v == 0 ? 2 : v * 4;  // the zero codes keep their sign: +2 and -2
    return static_cast<s16>(u & 0x80 ? -sample : sample);
}

// Quantise the magnitude (-32768 counts as 32767), then apply the sign.
u8 ref_encode(int s, bool alaw) {
    const int m = s < 0 ? (s == -32768 ? 32767 : -s) : s;
    const u8 code = alaw ? ref_alaw_positive(16 * (m / 16))
                         : (m <= 3 ? 0xFF : ref_ulaw_positive(8 * ((m - 4) / 8) + 4));
    return s < 0 ? code & 0x7F : code;
}

TEST(G711, MissingBuffersAndHalfSamples) {
    u32 len = 99;
    s16 sample = 1000;
    u8 code = 0;
    EXPECT_EQ(g711a_encode(&sample, &code, 1, &len), 1);  // half a sample
    EXPECT_EQ(code, 0);
    // Work to do without a buffer: nothing converted, failure reported.
    EXPECT_EQ(g711u_decode(nullptr, &sample, 4, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(g711a_encode(&sample, &code, 2, nullptr), 1);
    EXPECT_EQ(code, 0xFA);
}

// Every code through the per-sample decoder (the buffer decoders are checked
// below, and their lengths where the decoder channel uses them); every sample
// through both encoders, and a trailing odd byte, which is no sample.
TEST(G711, EveryCodeAndEverySampleMatchTheReference) {
    for (int code = 0; code < 256; ++code)
        ASSERT_EQ(g711a_decode_sample(u8(code)), ref_alaw_decode(u8(code))) << code;
    std::vector<s16> all;
    for (int s = -32768; s <= 32767; ++s) all.push_back(static_cast<s16>(s));
    std::vector<u8> alawCodes(all.size() + 1, 0xEE), ulawCodes(all.size() + 1, 0xEE);
    const u32 bytes = static_cast<u32>(all.size() * 2 + 1);
    u32 alawLen = 0, ulawLen = 0;
    EXPECT_EQ(g711a_encode(all.data(), alawCodes.data(), bytes, &alawLen), 1);
    EXPECT_EQ(g711u_encode(all.data(), ulawCodes.data(), bytes, &ulawLen), 1);
    EXPECT_EQ(alawLen + ulawLen, 2 * 65536u);
    EXPECT_EQ(alawCodes.back(), 0xEE);
    for (size_t i = 0; i < all.size(); ++i) {
        const int s = all[i];
        ASSERT_EQ(alawCodes[i], ref_encode(s, true)) << s;
        ASSERT_EQ(ulawCodes[i], ref_encode(s, false)) << s;
        ASSERT_EQ(g711a_encode_sample(all[i]), alawCodes[i]) << s;
        ASSERT_EQ(g711u_encode_sample(all[i]), ulawCodes[i]) << s;
    }
}

// Every decoder this machine runs (the table loop and the vector kernels),
// every code, at lengths that end in every place of a vector group and with
// source and destination off alignment; the samples around the output stay.
TEST(G711, EveryDecoderMatchesTheReferenceAtEveryLengthAndAlignment) {
    const zq::g711::DecoderList &list = zq::g711::available_decoders();
#if defined(__x86_64__)
    ASSERT_GE(list.count, 2u);  // SSE2 is always there
#endif
    std::vector<u32> lengths{1037};
    for (u32 n = 0; n <= 40; ++n) lengths.push_back(n);
    std::vector<u8> codes(1040 + 3);
    std::vector<s16> samples(1040 + 5);
    for (u32 k = 0; k < list.count; ++k) {
        const zq::g711::Decoders &decoders = list.items[k];
        for (bool alaw : {true, false})
            for (u32 n : lengths)
                for (u32 first = 0; first < 256; first += n ? n : 256)
                    for (u32 offset = 0; offset < 16; ++offset) {
                        const u32 from = offset % 4, to = 1 + offset / 4;
                        for (u32 i = 0; i < n; ++i) codes[from + i] = static_cast<u8>(first + i);
                        std::fill(samples.begin(), samples.end(), s16{0x5A5A});
                        (alaw ? decoders.alaw : decoders.ulaw)(&codes[from], &samples[to], n);
                        for (u32 i = 0; i < n; ++i) {
                            const u8 code = codes[from + i];
                            ASSERT_EQ(samples[to + i],
                                      alaw ? ref_alaw_decode(code) : ref_ulaw_decode(code))
                                << decoders.name << (alaw ? " A-law" : " mu-law") << " code "
                                << int{code} << " length " << n << " offsets " << from << "," << to;
                        }
                        ASSERT_EQ(samples[to - 1], 0x5A5A) << decoders.name;
                        ASSERT_EQ(samples[to + n], 0x5A5A) << decoders.name << " length " << n;
                    }
    }
}

}  // namespace
