// Loading a whole 4096 x 4096 overlay at 4 bits per pixel (8 MiB) through
// ZQ_MPI_RGN_SetBitMap on a virtual board, next to a memcpy of the same
// bytes; and what the video input pays per picture for the regions of a
// channel, with none shown and with one overlay shown.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench_board.h"
#include "emul/region_overlay.h"
#include "zq_rgn.h"

namespace {

constexpr u32 kSide = 4096;
constexpr size_t kBytes = size_t{kSide} * kSide / 2;

bool make_overlay(u32 side) {
    static bool made[2];
    const bool big = side == kSide;
    if (made[big]) return true;
    RgnAttr osd{};
    osd.u32Handle = big ? 0 : 1;
    osd.enType = ZQ_RGN_OSD;
    osd.unAttr.stOsd = {0, 0, ZQ_RGN_FORMAT_4BPP, {0, 0, side, side}};
    made[big] = ZQ_MPI_RGN_Create(0, &osd) == 0;
    return made[big];
}

void SetBitMap4096(benchmark::State &state) {
    if (!make_overlay(kSide)) return state.SkipWithError("overlay not created");
    std::vector<u8> pixels(kBytes, 0x5A);
    RgnBitmap bitmap{0, kSide, kSide, ZQ_RGN_FORMAT_4BPP, pixels.data()};
    for (auto _ : state)
        if (ZQ_MPI_RGN_SetBitMap(0, &bitmap) != 0) return state.SkipWithError("bitmap refused");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void Memcpy4096(benchmark::State &state) {
    std::vector<u8> from(kBytes, 0x5A), to(kBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

// A 1920 x 1080 NV12 picture of channel 2 (nothing there), or of channel 0
// with a 256 x 256 overlay shown.
void DrawPicture(benchmark::State &state) {
    const bool shown = state.range(0) != 0;
    if (shown) {
        std::vector<u8> pixels(256 * 256 / 2, 0x12);
        RgnPallet palette{};
        palette.au32Color[1] = 0xFFFF0000;
        RgnBitmap bitmap{1, 256, 256, ZQ_RGN_FORMAT_4BPP, pixels.data()};
        if (!make_overlay(256) || ZQ_MPI_RGN_SetPallet(0, &palette) != 0 ||
            ZQ_MPI_RGN_SetBitMap(0, &bitmap) != 0 || ZQ_MPI_RGN_Enable(0, 1, ZQ_RGN_OSD) != 0)
            return state.SkipWithError("overlay not shown");
    }
    std::vector<u8> luma(1920 * 1080, 16), chroma(1920 * 540, 128);
    for (auto _ : state) {
        zq::sim::draw_vi_regions(shown ? 0 : 2, luma.data(), chroma.data(), 1920, 1080);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(SetBitMap4096)->Unit(benchmark::kMillisecond);
BENCHMARK(Memcpy4096)->Unit(benchmark::kMillisecond);
BENCHMARK(DrawPicture)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv) {
    make_bench_board();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
