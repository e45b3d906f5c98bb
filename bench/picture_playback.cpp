// Playback's CPU time: 20 frames of 200x200 whose delay is written as 10 ms (shown for 100 ms:
// delays below 5 hundredths are raised), played for a few seconds, against rendering the same
// frames back to back. Playback should cost its renders and nothing more: no polling between.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <thread>

#include "picture_bench_common.h"

namespace {

constexpr int kFrames = 20;
constexpr int kSize = 200;
constexpr int kDelay = 1;  // hundredths of a second, as written in the file
constexpr double kShownSeconds = 0.1;
constexpr int kPlaySeconds = 3;

double ProcessCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class PictureProbe : public CAnimatedPicture {
public:
    HDC Surface() const { return memDC; }
    IPicture* Frame(int i) const { return frames[i].picture; }
    int FrameCount() const { return frames.GetSize(); }
};

// The benchmarks' animation, loaded into a control on a hidden host window.
struct LoadedAnimation {
    LoadedAnimation() {
        const std::vector<uint8_t> bytes = picture_bench::Animation(kFrames, kSize, kDelay);
        control.SubclassWindow(host.child);
        block = picture_bench::ToGlobal(bytes);
        control.LoadMemory(block, static_cast<DWORD>(bytes.size()));
    }
    ~LoadedAnimation() {
        control.UnloadPicture();
        GlobalFree(block);
    }
    LoadedAnimation(const LoadedAnimation&) = delete;
    LoadedAnimation& operator=(const LoadedAnimation&) = delete;

    picture_bench::HiddenHost host;
    PictureProbe control;
    HGLOBAL block = nullptr;
};

void BM_PlaybackCpu(benchmark::State& state) {
    LoadedAnimation loaded;
    PictureProbe& control = loaded.control;
    double cpu = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        control.StartDisplay();
        std::this_thread::sleep_for(std::chrono::seconds(kPlaySeconds));
        control.StopPlayback();
        cpu = ProcessCpuSeconds() - before;
        state.SetIterationTime(cpu);
    }
    const double framesShown = kPlaySeconds / kShownSeconds;
    state.counters["cpu_ms"] = cpu * 1e3;
    state.counters["frames_shown"] = framesShown;
    state.counters["cpu_us_per_frame"] = cpu * 1e6 / framesShown;
}

void BM_RenderBackToBack(benchmark::State& state) {
    LoadedAnimation loaded;
    PictureProbe& control = loaded.control;
    for (auto _ : state) {
        for (int i = 0; i < control.FrameCount(); ++i) {
            IPicture* frame = control.Frame(i);
            OLE_XSIZE_HIMETRIC w = 0;
            OLE_YSIZE_HIMETRIC h = 0;
            frame->get_Width(&w);
            frame->get_Height(&h);
            frame->Render(control.Surface(), 0, 0, kSize, kSize, 0, h, w, -h, nullptr);
        }
    }
    state.counters["cpu_us_per_frame"] = benchmark::Counter(
        static_cast<double>(control.FrameCount()), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

BENCHMARK(BM_PlaybackCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderBackToBack)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
