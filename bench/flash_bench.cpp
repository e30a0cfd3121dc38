// CRC-32 throughput next to zlib's on the same buffers, and what an identity
// write + read and an environment set cost on a virtual board.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "bench_board.h"
#include "flash/crc32.h"
#include "hw_info.h"
#include "zq_flash.h"
#include "zq_log.h"

namespace {

std::vector<uint8_t> random_bytes(size_t n) {
    std::mt19937 random(1);
    std::vector<uint8_t> data(n);
    for (uint8_t &b : data) b = static_cast<uint8_t>(random());
    return data;
}

void Crc32Sdk(benchmark::State &state) {
    std::vector<uint8_t> data = random_bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(zq::flash::crc32(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(Crc32Sdk)->Arg(64 << 10)->Arg(1 << 20);

void Crc32Zlib(benchmark::State &state) {
    std::vector<uint8_t> data = random_bytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(::crc32(0, data.data(), static_cast<uInt>(data.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(Crc32Zlib)->Arg(64 << 10)->Arg(1 << 20);

void IdentityWriteAndRead(benchmark::State &state) {
    HwInfo info{};
    HwInfo back{};
    u32 version = 0;
    for (auto _ : state) {
        if (ZQSDK_WriteSeriesNum(&info, sizeof info, HWINFO_VERSION) != 0 ||
            ZQSDK_ReadSeriesNum(&back, sizeof back, &version) != 0)
            state.SkipWithError("identity record failed");
    }
}
BENCHMARK(IdentityWriteAndRead)->Unit(benchmark::kMicrosecond);

void EnvironmentSet(benchmark::State &state) {
    int i = 0;
    char value[8];
    for (auto _ : state) {
        std::snprintf(value, sizeof value, "%d", i++ % 1000);
        if (ZQSDK_EnvWriteKeyValue("bootcount", value) != 0)
            state.SkipWithError("environment set failed");
    }
}
BENCHMARK(EnvironmentSet)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
    make_bench_board();
    ZQSDK_SetLogLevel(ZQ_LOG_WARN);  // keep the INFO line of every save off the report
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
