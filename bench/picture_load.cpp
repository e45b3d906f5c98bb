// Loading an animated GIF (scan, split, check every frame) against one giflib DGifSlurp of the
// same bytes, at several frame sizes and frame counts; and the load with the first drawing of
// every frame, which decodes it.
//
// Each iteration loads once, draws every frame once into a one-pixel surface and slurps once,
// each timed in the thread's CPU time, so that all see the same machine; the ratios of the sums
// (ratio: the load alone, decoded_ratio: load and first draws) are the figures of one
// repetition, and the repetitions give their median and spread. After the timed loop, one more
// load and one slurp are measured on the heap: the peak while they run and what the load still
// holds afterwards with its frames drawn once, per pixel of all frames (a 32-bit decoded frame
// is 4 bytes per pixel).
//
// With --instructions (under valgrind --tool=callgrind, see picture_load_instructions.sh) the
// program instead runs each load and slurp once between two callgrind client requests, so that
// callgrind counts the instructions of exactly that call, whatever the machine's load.
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(label)
#endif

#include "heap_meter.h"
#include "picture_bench_common.h"

namespace {

// Frames repeat after `distinct` patterns, which keeps encoding quick; 0: every frame differs,
// so that none is found among the frames decoded before it.
struct Shape {
    int width, height, frames, distinct;
};
constexpr int kAllDistinct = 0;
constexpr int kSomeDistinct = 8;
constexpr Shape kShapes[] = {
    {32, 32, 10, kSomeDistinct},   {32, 32, 100, kSomeDistinct},   {96, 96, 10, kSomeDistinct},
    {96, 96, 100, kSomeDistinct},  {200, 200, 10, kSomeDistinct},  {200, 200, 100, kSomeDistinct},
    {640, 480, 10, kSomeDistinct}, {640, 480, 100, kSomeDistinct}, {32, 32, 10, kAllDistinct},
    {32, 32, 100, kAllDistinct},   {200, 200, 10, kAllDistinct},   {200, 200, 100, kAllDistinct}};

constexpr int kDelay = 5;

std::vector<uint8_t> Pattern(int width, int height, int f) {
    std::vector<uint8_t> raster(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            raster[static_cast<size_t>(y) * width + x] =
                static_cast<uint8_t>(((x + f * 3) / 8 + (y / 8) * 5 + f) & 0xFF);
        }
    }
    return raster;
}

// frames full-screen frames over a 256-colour table, each with a graphic control extension.
std::vector<uint8_t> Animation(const Shape& s) {
    std::vector<std::vector<uint8_t>> encoded;
    const int patterns = s.distinct == kAllDistinct ? s.frames : std::min(s.frames, s.distinct);
    for (int f = 0; f < patterns; ++f) {
        gif_test::GifBuilder one;
        one.Header().Screen(s.width, s.height, 7);
        const size_t from = one.Size();
        one.GraphicControl(kDelay, 1).Image(0, 0, s.width, s.height, Pattern(s.width, s.height, f));
        encoded.emplace_back(one.Bytes().begin() + static_cast<std::ptrdiff_t>(from),
                             one.Bytes().end());
    }
    gif_test::GifBuilder b;
    b.Header().Screen(s.width, s.height, 7).Loop(0);
    for (int f = 0; f < s.frames; ++f) b.Raw(encoded[static_cast<size_t>(f) % encoded.size()]);
    b.Trailer();
    return b.Bytes();
}

const std::vector<uint8_t>& Data(const Shape& s) {
    static std::map<std::tuple<int, int, int, int>, std::vector<uint8_t>> made;
    auto& bytes = made[{s.width, s.height, s.frames, s.distinct}];
    if (bytes.empty()) bytes = Animation(s);
    return bytes;
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

class PictureProbe : public CAnimatedPicture {
public:
    int FrameCount() const { return frames.GetSize(); }
    // Draws every frame once, as playback's first loop does; FALSE when one fails.
    BOOL DrawFrames(HDC dc) {
        for (int i = 0; i < frames.GetSize(); ++i) {
            IPicture* picture = frames[i].picture;
            OLE_XSIZE_HIMETRIC w = 0;
            OLE_YSIZE_HIMETRIC h = 0;
            picture->get_Width(&w);
            picture->get_Height(&h);
            if (FAILED(picture->Render(dc, 0, 0, frames[i].cx, frames[i].cy, 0, h, w, -h, nullptr)))
                return FALSE;
        }
        return TRUE;
    }
};

// A one-pixel memory surface: drawing into it costs next to nothing beyond the decode.
struct PixelSurface {
    PixelSurface() : dc(CreateCompatibleDC(nullptr)), bitmap(CreateCompatibleBitmap(dc, 1, 1)) {
        old = SelectObject(dc, bitmap);
    }
    ~PixelSurface() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
};

// A control on a hidden host, with the bytes of one shape in a global block.
struct LoadFixture {
    explicit LoadFixture(const Shape& shape) : bytes(Data(shape)) {
        control.SubclassWindow(host.child);
        block = picture_bench::ToGlobal(bytes);
    }
    ~LoadFixture() {
        control.UnloadPicture();
        GlobalFree(block);
    }
    BOOL Load() { return control.LoadMemory(block, static_cast<DWORD>(bytes.size())); }

    const std::vector<uint8_t>& bytes;
    picture_bench::HiddenHost host;
    PictureProbe control;
    HGLOBAL block = nullptr;
};

struct HeapUse {
    size_t peak;  // above what was held before the call
    size_t held;  // still held after it
};

template <typename Work>
HeapUse MeasureHeap(Work work) {
    const size_t before = heap_meter::Current();
    heap_meter::ResetPeak();
    work();
    const size_t after = heap_meter::Current();
    return {heap_meter::Peak() - before, after > before ? after - before : 0};
}

void BM_LoadVsSlurp(benchmark::State& state) {
    const Shape shape{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                      static_cast<int>(state.range(2)), static_cast<int>(state.range(3))};
    LoadFixture fixture(shape);
    PixelSurface surface;
    double load = 0, draw = 0, slurp = 0;
    for (auto _ : state) {
        const double t0 = ThreadCpuSeconds();
        const BOOL loaded = fixture.Load();
        const double t1 = ThreadCpuSeconds();
        const BOOL drawn = loaded && fixture.control.DrawFrames(surface.dc);
        const double t2 = ThreadCpuSeconds();
        const int images = Slurp(fixture.bytes);
        const double t3 = ThreadCpuSeconds();
        if (!loaded || !drawn || images != shape.frames) {
            state.SkipWithError("LoadMemory, a frame's drawing or DGifSlurp failed");
            break;
        }
        load += t1 - t0;
        draw += t2 - t1;
        slurp += t3 - t2;
    }
    const double perIteration = 1e3 / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["load_ms"] = load * perIteration;
    state.counters["draw_ms"] = draw * perIteration;
    state.counters["slurp_ms"] = slurp * perIteration;
    state.counters["ratio"] = slurp > 0 ? load / slurp : 0;
    state.counters["decoded_ratio"] = slurp > 0 ? (load + draw) / slurp : 0;

    fixture.control.UnloadPicture();
    const HeapUse loadHeap = MeasureHeap([&] {
        fixture.Load();
        fixture.control.DrawFrames(surface.dc);
    });
    const HeapUse slurpHeap = MeasureHeap([&] { Slurp(fixture.bytes); });
    const double pixels =
        static_cast<double>(shape.width) * shape.height * fixture.control.FrameCount();
    state.counters["peak_B_per_px"] = static_cast<double>(loadHeap.peak) / pixels;
    state.counters["held_B_per_px"] = static_cast<double>(loadHeap.held) / pixels;
    state.counters["slurp_peak_B_per_px"] = static_cast<double>(slurpHeap.peak) / pixels;
    state.counters["peak_KiB_per_frame"] =
        static_cast<double>(loadHeap.peak) / 1024.0 / shape.frames;
}

void Shapes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"w", "h", "frames", "distinct"});
    for (const Shape& s : kShapes) b->Args({s.width, s.height, s.frames, s.distinct});
}

BENCHMARK(BM_LoadVsSlurp)
    ->Apply(Shapes)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->MinTime(0.2)
    ->Unit(benchmark::kMillisecond);

// One load and one slurp of every shape, each alone between callgrind's zeroing and dumping of
// its counts; a load and a slurp before them warm up what a first call sets up.
int CountInstructions() {
    for (const Shape& shape : kShapes) {
        LoadFixture fixture(shape);
        if (!fixture.Load() || Slurp(fixture.bytes) != shape.frames) return 1;
        const std::string name = std::to_string(shape.width) + "x" + std::to_string(shape.height) +
                                 "x" + std::to_string(shape.frames) +
                                 (shape.distinct == kAllDistinct ? "distinct" : "");
        // callgrind may read a label after the request returns: both outlive their dumps.
        const std::string loadLabel = "load " + name, slurpLabel = "slurp " + name;
        CALLGRIND_ZERO_STATS;
        fixture.Load();
        CALLGRIND_DUMP_STATS_AT(loadLabel.c_str());
        CALLGRIND_ZERO_STATS;
        Slurp(fixture.bytes);
        CALLGRIND_DUMP_STATS_AT(slurpLabel.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--instructions") == 0) return CountInstructions();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
