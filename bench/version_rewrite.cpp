// What recording one version costs its caller while another program saturates the disk.
//
// BM_VersionRewrite/loaded: RecordVersion (the control's version-file write) of a rising version
// into one user's version file every 10 ms, cycling through the face modes, for kMeasured; with
// `loaded`, another process writes to the same file system all along (`dd ... conv=fsync` in a
// loop). The counters give the longest call, the 99th percentile and the calls over 50 ms (ms).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "StoreFiles.h"
#include "disk_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kHome = VERSION_REWRITE_HOME;
constexpr std::chrono::seconds kMeasured{10};
constexpr std::chrono::seconds kWriterHeadStart{2};
constexpr std::chrono::milliseconds kPeriod{10};
constexpr double kLongCallMs = 50;
constexpr int kFaceModes = 10;

void BM_VersionRewrite(benchmark::State& state) {
    const bool loaded = state.range(0) != 0;
    std::filesystem::create_directories(kHome);
    const std::string path = kHome + "/10001.txt";
    for (auto _ : state) {
        std::filesystem::remove(path);
        std::unique_ptr<bench::DiskWriter> writer;
        if (loaded) {
            writer = std::make_unique<bench::DiskWriter>(
                kHome, static_cast<int>((kMeasured + kWriterHeadStart).count()) + 5);
            std::this_thread::sleep_for(kWriterHeadStart);
        }
        std::vector<double> calls;
        const auto start = Clock::now();
        for (int version = 1; Clock::now() - start < kMeasured; ++version) {
            const auto before = Clock::now();
            RecordVersion(path.c_str(), 1, version % kFaceModes, version);
            const auto after = Clock::now();
            calls.push_back(std::chrono::duration<double, std::milli>(after - before).count());
            std::this_thread::sleep_until(before + kPeriod);
        }
        const bench::GapFigures figures = bench::FiguresOf(calls, kLongCallMs);
        state.SetIterationTime(figures.longest / 1000);
        state.counters["longest_ms"] = figures.longest;
        state.counters["p99_ms"] = figures.p99;
        state.counters["over_50ms"] = figures.over;
        state.counters["calls"] = static_cast<double>(calls.size());
    }
}
BENCHMARK(BM_VersionRewrite)
    ->ArgName("loaded")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
