// ZQSDK_WifiGetList over a radio of 500 networks on a virtual board, and
// its time split in two: the tool pipeline (the scan tool, egrep and sed,
// read to the end) and the SDK's own part, reading the pipeline's lines,
// parsing the blocks and ordering them by quality. The board clock runs
// fast, so the scan tool's one board second of listening costs nothing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_board.h"
#include "net/wifi_command.h"
#include "net/wifi_scan.h"
#include "port/port.h"
#include "board/wifi_radio.h"
#include "zq_wifi.h"

namespace {

constexpr int kNetworks = 500;

// Networks of every strength in a scattered order, so that the ordering
// does real work; some open, some secured.
void fill_radio(const std::string &dir) {
    unsigned seed = 12345;
    for (int i = 0; i < kNetworks; ++i) {
        seed = seed * 1103515245u + 12345u;
        zq::sim::RadioNetwork n;
        n.ssid = "Net " + std::to_string(i) + (i % 7 == 0 ? " \\ BSS RSN" : "");
        char bssid[18];
        std::snprintf(bssid, sizeof bssid, "02:00:00:00:%02x:%02x", i / 256, i % 256);
        n.bssid = bssid;
        n.signal = -30.0 - static_cast<double>((seed >> 16) % 6500) / 100.0;
        n.channel = 1 + i % 13;
        if (i % 3 != 0) n.passphrase = "passphrase-" + std::to_string(i);
        std::string error;
        if (!zq::sim::add_network(dir, n, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
    }
}

void start_wifi() {
    static const bool ready = [] {
        std::string dir = make_bench_board();
        fill_radio(dir);
        zq::sim::set_clock_speed(dir, 10000);
        if (ZQSDK_WifiInit("wlan0", "/usr/wifi", 1) != 0) std::abort();
        return true;
    }();
    (void)ready;
}

std::string scan_command() {
    return zq::wifi::board_word("/usr/wifi", "/iw") +
           " dev wlan0 scan | egrep 'BSS|signal|SSID|primary channel|RSN' | sed '/OBSS/d'";
}

std::string pipeline_output() {
    FILE *pipe = zq::port::popen(scan_command().c_str(), "r");
    if (!pipe) std::abort();
    std::string out;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    zq::port::pclose(pipe);
    return out;
}

void BM_WifiGetList(benchmark::State &state) {
    start_wifi();
    std::vector<WifiInfo> infos(kNetworks);
    WifiList list{kNetworks, infos.data()};
    for (auto _ : state)
        if (ZQSDK_WifiGetList(&list) != kNetworks) return state.SkipWithError("networks missing");
}

void BM_ScanToolPipeline(benchmark::State &state) {
    start_wifi();
    for (auto _ : state) benchmark::DoNotOptimize(pipeline_output());
}

// The SDK's part: the same lines read from a stream, parsed and ordered.
void BM_ScanParseAndOrder(benchmark::State &state) {
    start_wifi();
    std::string text = pipeline_output();
    std::vector<WifiInfo> infos(kNetworks);
    for (auto _ : state) {
        FILE *stream = fmemopen(text.data(), text.size(), "r");
        if (!stream) return state.SkipWithError("fmemopen failed");
        infos.assign(kNetworks, WifiInfo{});
        auto lines = [stream](std::string *line) { return zq::wifi::read_line(stream, line); };
        if (zq::wifi::CollectScanList(lines, infos.data(), kNetworks) != kNetworks)
            return state.SkipWithError("networks missing");
        std::fclose(stream);
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}

}  // namespace

BENCHMARK(BM_WifiGetList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanToolPipeline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanParseAndOrder)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
