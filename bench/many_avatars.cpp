// Many animated avatars in one dialog, as a contact list or a group chat shows them: N controls,
// each playing 10 frames of 48x48 at 100 ms, and the host's message loop painting them. After a
// warm-up the loop runs for a measured period, and the benchmark reports
//   cores             process CPU time over wall time;
//   drawn_pct         frames that reached the screen (counted paints) of the frames due;
//   switches_per_frame  the process's context switches per frame drawn;
//   rss_kb_per_control, vm_kb_per_control  what a playing control adds to the process.
// Run with --benchmark_repetitions to get medians; figures from a busy machine are upper bounds.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "playback_bench_common.h"

namespace {

using playback_bench::CountingPicture;
using playback_bench::ProcessUsage;
using playback_bench::StatusKb;

constexpr int kFrames = 10;
constexpr int kSide = 48;
constexpr int kDelay = 10;  // hundredths of a second, as written in the file
constexpr double kFrameSeconds = 0.1;
constexpr int kColumns = 25;
constexpr std::chrono::milliseconds kWarmUp{1000};
constexpr std::chrono::milliseconds kMeasured{10000};

// The dialog and its N playing controls, laid out in a grid.
class AvatarGrid {
public:
    AvatarGrid(int count, HGLOBAL gif, DWORD size)
        : dialog_(kColumns * kSide, (count + kColumns - 1) / kColumns * kSide) {
        controls_.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            HWND child = dialog_.AddChild(i % kColumns * kSide, i / kColumns * kSide, kSide, kSide);
            auto control = std::make_unique<CountingPicture>();
            control->SubclassWindow(child);
            control->LoadMemory(gif, size);
            control->StartDisplay();
            controls_.push_back(std::move(control));
        }
    }
    ~AvatarGrid() {
        for (auto& control : controls_) control->UnloadPicture();
        controls_.clear();
    }
    AvatarGrid(const AvatarGrid&) = delete;
    AvatarGrid& operator=(const AvatarGrid&) = delete;

    HWND Dialog() const { return dialog_.hwnd; }
    long Paints() const {
        long paints = 0;
        for (const auto& control : controls_) paints += control->Paints();
        return paints;
    }

private:
    playback_bench::VisibleDialog dialog_;
    std::vector<std::unique_ptr<CountingPicture>> controls_;
};

void BM_ManyAvatars(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::vector<uint8_t> bytes = picture_bench::Animation(kFrames, kSide, kDelay);
    HGLOBAL gif = picture_bench::ToGlobal(bytes);
    const DWORD size = static_cast<DWORD>(bytes.size());

    for (auto _ : state) {
        const long rssBefore = StatusKb("VmRSS");
        const long vmBefore = StatusKb("VmSize");
        AvatarGrid grid(count, gif, size);
        playback_bench::RunMessageLoop(grid.Dialog(), kWarmUp);
        const long rssPlaying = StatusKb("VmRSS");
        const long vmPlaying = StatusKb("VmSize");

        const long paintsBefore = grid.Paints();
        const ProcessUsage usageBefore = ProcessUsage::Now();
        const auto start = std::chrono::steady_clock::now();
        playback_bench::RunMessageLoop(grid.Dialog(), kMeasured);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const ProcessUsage used = ProcessUsage::Now() - usageBefore;
        const long drawn = grid.Paints() - paintsBefore;
        state.SetIterationTime(wall);

        const double due = count * wall / kFrameSeconds;
        state.counters["cores"] = used.cpuSeconds / wall;
        state.counters["drawn_pct"] = 100.0 * static_cast<double>(drawn) / due;
        state.counters["switches_per_frame"] =
            static_cast<double>(used.contextSwitches) / static_cast<double>(drawn > 0 ? drawn : 1);
        state.counters["cpu_us_per_frame"] =
            used.cpuSeconds * 1e6 / static_cast<double>(drawn > 0 ? drawn : 1);
        state.counters["rss_kb_per_control"] = static_cast<double>(rssPlaying - rssBefore) / count;
        state.counters["vm_kb_per_control"] = static_cast<double>(vmPlaying - vmBefore) / count;
    }
    GlobalFree(gif);
}
BENCHMARK(BM_ManyAvatars)
    ->Arg(10)
    ->Arg(50)
    ->Arg(100)
    ->Arg(250)
    ->Arg(500)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
