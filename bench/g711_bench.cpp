// G.711 throughput in bytes of input per second: decoding should run far
// above 2 GB/s (a table lookup per byte, eight per loop pass), so that the
// decoder costs nothing next to the 8 kB/s a speaker consumes.
#include <benchmark/benchmark.h>

#include <vector>

#include "zq_g711.h"

namespace {

constexpr size_t kCodes = 64 * 1024;

std::vector<u8> some_codes() {
    std::vector<u8> codes(kCodes);
    for (size_t i = 0; i < kCodes; ++i) codes[i] = static_cast<u8>(i * 131 + 7);
    return codes;
}

std::vector<s16> some_samples() {
    std::vector<s16> samples(kCodes);
    for (size_t i = 0; i < kCodes; ++i) samples[i] = static_cast<s16>(i * 2654435761u >> 16);
    return samples;
}

template <s32 (*Codec)(const u8 *, s16 *, u32, u32 *)>
void Decode(benchmark::State &state) {
    const std::vector<u8> codes = some_codes();
    std::vector<s16> samples(kCodes);
    u32 len = 0;
    for (auto _ : state) {
        Codec(codes.data(), samples.data(), static_cast<u32>(kCodes), &len);
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCodes));
}

template <s32 (*Codec)(const s16 *, u8 *, u32, u32 *)>
void Encode(benchmark::State &state) {
    const std::vector<s16> samples = some_samples();
    std::vector<u8> codes(kCodes);
    u32 len = 0;
    for (auto _ : state) {
        Codec(samples.data(), codes.data(), static_cast<u32>(kCodes * 2), &len);
        benchmark::DoNotOptimize(codes.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCodes * 2));
}

}  // namespace

BENCHMARK(Decode<g711a_decode>)->Name("G711ADecode");
BENCHMARK(Decode<g711u_decode>)->Name("G711UDecode");
BENCHMARK(Encode<g711a_encode>)->Name("G711AEncode");
BENCHMARK(Encode<g711u_encode>)->Name("G711UEncode");

BENCHMARK_MAIN();
