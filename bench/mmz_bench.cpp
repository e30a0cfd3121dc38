// What a mapping through the media memory family costs next to the bare
// seam calls on the same driver, with 1 and with 1000 other live mappings:
// the family remembers each mapping, and that must not grow with the count.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>

#include <vector>

#include "bench_board.h"
#include "port/port.h"
#include "zq_sys.h"

namespace {

constexpr u32 kPhys = 0x90000000;

// Keeps `count` mappings of the family alive while the benchmark runs.
struct LiveMappings {
    std::vector<void *> held;
    explicit LiveMappings(int64_t count) {
        for (int64_t i = 0; i < count; ++i)
            held.push_back(ZQ_MPI_SYS_Mmap(kPhys + static_cast<u32>(i) * 4096u, 4096));
    }
    ~LiveMappings() {
        for (void *p : held) ZQ_MPI_SYS_Munmap(p, 4096);
    }
};

void FamilyMmapMunmap(benchmark::State &state) {
    LiveMappings live(state.range(0));
    for (auto _ : state) {
        void *p = ZQ_MPI_SYS_Mmap(kPhys + 0x01000000, 4096);
        benchmark::DoNotOptimize(p);
        ZQ_MPI_SYS_Munmap(p, 4096);
    }
}

void SeamMmapMunmap(benchmark::State &state) {
    LiveMappings live(state.range(0));
    int fd = zq::port::open("/dev/mmz", O_RDWR | O_DSYNC);
    MmzRequest notice{};
    for (auto _ : state) {
        notice.u32PhyAddr = kPhys + 0x01000000;
        notice.u32Len = 4096;
        zq::port::ioctl(fd, ZQ_MMZ_MAP, &notice);
        void *p = zq::port::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                                 kPhys + 0x01000000);
        benchmark::DoNotOptimize(p);
        zq::port::munmap(p, 4096);
    }
    zq::port::close(fd);
}

}  // namespace

BENCHMARK(SeamMmapMunmap)->Arg(1)->Arg(1000);
BENCHMARK(FamilyMmapMunmap)->Arg(1)->Arg(1000);

int main(int argc, char **argv) {
    make_bench_board();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
