// Playback's CPU time per frame against its floor. One control plays 20 frames (48x48 or
// 200x200) whose delay is written as 10 ms (shown for 100 ms: delays below 5 hundredths are
// raised) in a shown dialog whose message loop paints it; the frames it shows are counted paints.
// The floor is what a frame cannot do without: rendering it into the memory surface and the
// paint's copy of that surface to the window, back to back. Playback should cost little more:
// no polling, no wake-ups for nothing.
#include <benchmark/benchmark.h>

#include "playback_bench_common.h"

namespace {

using playback_bench::CountingPicture;
using playback_bench::ProcessUsage;

constexpr int kFrames = 20;
constexpr int kDelay = 1;  // hundredths of a second, as written in the file
constexpr std::chrono::milliseconds kWarmUp{300};
constexpr std::chrono::milliseconds kPlayed{3000};

class PictureProbe : public CountingPicture {
public:
    HDC Surface() const { return memDC; }
    IPicture* Frame(int i) const { return frames[i].picture; }
    int FrameCount() const { return frames.GetSize(); }
};

// The benchmarks' animation of side x side, loaded into a control on a shown dialog.
struct LoadedAnimation {
    explicit LoadedAnimation(int side) : dialog(side * 2, side * 2) {
        const std::vector<uint8_t> bytes = picture_bench::Animation(kFrames, side, kDelay);
        control.SubclassWindow(dialog.AddChild(0, 0, side, side));
        block = picture_bench::ToGlobal(bytes);
        control.LoadMemory(block, static_cast<DWORD>(bytes.size()));
    }
    ~LoadedAnimation() {
        control.UnloadPicture();
        GlobalFree(block);
    }
    LoadedAnimation(const LoadedAnimation&) = delete;
    LoadedAnimation& operator=(const LoadedAnimation&) = delete;

    playback_bench::VisibleDialog dialog;
    PictureProbe control;
    HGLOBAL block = nullptr;
};

void BM_PlaybackCpu(benchmark::State& state) {
    LoadedAnimation loaded(static_cast<int>(state.range(0)));
    PictureProbe& control = loaded.control;
    const HWND dialog = loaded.dialog.hwnd;
    double cpu = 0;
    long shown = 0, switches = 0;
    for (auto _ : state) {
        control.StartDisplay();
        playback_bench::RunMessageLoop(dialog, kWarmUp);
        const long paintsBefore = control.Paints();
        const ProcessUsage before = ProcessUsage::Now();
        playback_bench::RunMessageLoop(dialog, kPlayed);
        const ProcessUsage used = ProcessUsage::Now() - before;
        shown = control.Paints() - paintsBefore;
        control.StopPlayback();
        cpu = used.cpuSeconds;
        switches = used.contextSwitches;
        state.SetIterationTime(cpu);
    }
    const double frames = static_cast<double>(shown > 0 ? shown : 1);
    state.counters["frames_shown"] = static_cast<double>(shown);
    state.counters["cpu_us_per_frame"] = cpu * 1e6 / frames;
    state.counters["switches_per_frame"] = static_cast<double>(switches) / frames;
}

// Render every frame into the memory surface and copy the surface to the window, as playback
// and the paint do, with nothing in between.
void BM_RenderAndCopy(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    LoadedAnimation loaded(side);
    PictureProbe& control = loaded.control;
    HDC window = GetDC(control.m_hWnd);
    for (auto _ : state) {
        for (int i = 0; i < control.FrameCount(); ++i) {
            IPicture* frame = control.Frame(i);
            OLE_XSIZE_HIMETRIC w = 0;
            OLE_YSIZE_HIMETRIC h = 0;
            frame->get_Width(&w);
            frame->get_Height(&h);
            frame->Render(control.Surface(), 0, 0, side, side, 0, h, w, -h, nullptr);
            BitBlt(window, 0, 0, side, side, control.Surface(), 0, 0, SRCCOPY);
        }
    }
    ReleaseDC(control.m_hWnd, window);
    state.counters["cpu_us_per_frame"] = benchmark::Counter(
        static_cast<double>(control.FrameCount()),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The window's thread's share of a frame: the invalidation, retrieving WM_PAINT, its dispatch to
// the control, BeginPaint, the copy to the window and EndPaint, on one thread.
void BM_PaintCycle(benchmark::State& state) {
    LoadedAnimation loaded(static_cast<int>(state.range(0)));
    const HWND window = loaded.control.m_hWnd;
    MSG msg;
    for (auto _ : state) {
        InvalidateRect(window, nullptr, FALSE);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    state.counters["paints_per_cycle"] = benchmark::Counter(
        static_cast<double>(loaded.control.Paints()), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_PlaybackCpu)
    ->Arg(48)
    ->Arg(200)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderAndCopy)->Arg(48)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintCycle)->Arg(48)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
