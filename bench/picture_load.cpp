// Loading an animated GIF (scan, split, decode every frame) against one giflib DGifSlurp of
// the same bytes. BM_LoadMemory also reports the ratio of the two, timed alike side by side.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <time.h>

#include <algorithm>
#include <cstring>

#include "picture_bench_common.h"

namespace {

const std::vector<uint8_t>& Data(int frames) {
    static const std::vector<uint8_t> hundred = picture_bench::Animation(100, 200, 5);
    static const std::vector<uint8_t> ten = picture_bench::Animation(10, 200, 5);
    return frames == 100 ? hundred : ten;
}

struct MemoryReader {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

int ReadMemory(GifFileType* file, GifByteType* out, int n) {
    auto* r = static_cast<MemoryReader*>(file->UserData);
    const size_t take = std::min(static_cast<size_t>(n), r->bytes->size() - r->at);
    std::memcpy(out, r->bytes->data() + r->at, take);
    r->at += take;
    return static_cast<int>(take);
}

// Images that DGifSlurp read from bytes, or -1 when it failed.
int Slurp(const std::vector<uint8_t>& bytes) {
    MemoryReader reader{&bytes, 0};
    int error = 0;
    GifFileType* file = DGifOpen(&reader, ReadMemory, &error);
    if (file == nullptr) return -1;
    const int images = DGifSlurp(file) == GIF_OK ? file->ImageCount : -1;
    DGifCloseFile(file, &error);
    return images;
}

double ThreadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU time of the calling thread, not wall time: the ratio stays meaningful on a busy machine.
template <typename Work>
double SecondsPerRun(int runs, Work work) {
    const double start = ThreadCpuSeconds();
    for (int i = 0; i < runs; ++i) work();
    return (ThreadCpuSeconds() - start) / runs;
}

class PictureProbe : public CAnimatedPicture {
public:
    int FrameCount() const { return frames.GetSize(); }
};

void BM_LoadMemory(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = Data(static_cast<int>(state.range(0)));
    picture_bench::HiddenHost host;
    PictureProbe control;
    control.SubclassWindow(host.child);
    HGLOBAL block = picture_bench::ToGlobal(bytes);
    for (auto _ : state) {
        if (!control.LoadMemory(block, static_cast<DWORD>(bytes.size()))) {
            state.SkipWithError("LoadMemory failed");
            break;
        }
    }
    state.counters["frames"] = control.FrameCount();
    constexpr int kRatioRuns = 5;
    const double load = SecondsPerRun(kRatioRuns, [&] {
        control.LoadMemory(block, static_cast<DWORD>(bytes.size()));
    });
    const double slurp = SecondsPerRun(kRatioRuns, [&] { Slurp(bytes); });
    state.counters["ratio_to_DGifSlurp"] = slurp > 0 ? load / slurp : 0;
    control.UnloadPicture();
    GlobalFree(block);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_DGifSlurp(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = Data(static_cast<int>(state.range(0)));
    int images = 0;
    for (auto _ : state) {
        images = Slurp(bytes);
        if (images < 0) {
            state.SkipWithError("DGifSlurp failed");
            break;
        }
    }
    state.counters["frames"] = images;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

BENCHMARK(BM_LoadMemory)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DGifSlurp)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
