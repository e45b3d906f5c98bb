// How long one file can hold the thread that loads it: LoadMemory and the first StartDisplay
// of files made to cost the most per pixel, per frame and per screen, in the thread's CPU time,
// with the heap's peak. The picture control's load budget is chosen from these figures.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "heap_meter.h"
#include "picture_bench_common.h"

namespace {

using Bytes = std::vector<uint8_t>;

double ThreadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Bytes Noise(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes indices(count);
    for (uint8_t& index : indices) index = static_cast<uint8_t>(random());
    return indices;
}

// Image data of one literal LZW code per pixel, with a clear code before the code table would
// grow past 9 bits: the most codes, and so the most work, that a picture's pixels can ask of a
// decoder. Quick to make at any size, unlike compressing noise. Fewer indices than pixels make
// an image that fails only at its end.
Bytes LiteralImage(int width, int height, const Bytes& indices) {
    constexpr int kMinCodeSize = 8, kClear = 256, kEnd = 257, kCodesPerClear = 250;
    Bytes out = {0x2C,
                 0,
                 0,
                 0,
                 0,
                 static_cast<uint8_t>(width),
                 static_cast<uint8_t>(width >> 8),
                 static_cast<uint8_t>(height),
                 static_cast<uint8_t>(height >> 8),
                 0,
                 kMinCodeSize};
    Bytes codes;
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](int code) {
        bits |= static_cast<uint32_t>(code) << count;
        for (count += 9; count >= 8; count -= 8, bits >>= 8)
            codes.push_back(static_cast<uint8_t>(bits));
    };
    for (size_t i = 0; i < indices.size(); ++i) {
        if (i % kCodesPerClear == 0) put(kClear);
        put(indices[i]);
    }
    put(kEnd);
    if (count > 0) codes.push_back(static_cast<uint8_t>(bits));
    for (size_t at = 0; at < codes.size(); at += 255) {
        const size_t n = std::min<size_t>(255, codes.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), codes.begin() + static_cast<std::ptrdiff_t>(at),
                   codes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
}

// A file of frames: the screen, then each frame's image block (made once per distinct frame).
Bytes Animation(int screenWidth, int screenHeight, int frames, int distinct,
                const std::function<Bytes(int)>& imageBlock) {
    std::vector<Bytes> blocks;
    for (int f = 0; f < distinct; ++f) blocks.push_back(imageBlock(f));
    gif_test::GifBuilder b;
    b.Header().Screen(screenWidth, screenHeight, 7).Loop(0);
    for (int f = 0; f < frames; ++f)
        b.GraphicControl(5).Raw(blocks[static_cast<size_t>(f % distinct)]);
    b.Trailer();
    return b.Bytes();
}

// An image block as the builder writes it (real LZW), cut out of a builder of its own.
Bytes BuiltImage(int width, int height, const Bytes& indices) {
    gif_test::GifBuilder one;
    one.Header().Screen(width, height, 7);
    const size_t from = one.Size();
    one.Image(0, 0, width, height, indices);
    return Bytes(one.Bytes().begin() + static_cast<std::ptrdiff_t>(from), one.Bytes().end());
}

struct Case {
    const char* name;
    std::function<Bytes()> make;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"40 one-colour frames on a 4096x4096 screen",
         [] {
             return Animation(4096, 4096, 40, 2, [](int f) {
                 return BuiltImage(4096, 4096,
                                   Bytes(size_t{4096} * 4096, static_cast<uint8_t>(f + 1)));
             });
         }},
        {"100 frames of 1024x1024 noise",
         [] {
             return Animation(1024, 1024, 100, 2, [](int f) {
                 return BuiltImage(1024, 1024,
                                   Noise(size_t{1024} * 1024, static_cast<uint32_t>(f)));
             });
         }},
        {"100 frames of 1024x1024 literal codes",
         [] {
             return Animation(1024, 1024, 100, 2, [](int f) {
                 return LiteralImage(1024, 1024,
                                     Noise(size_t{1024} * 1024, static_cast<uint32_t>(f)));
             });
         }},
        {"100 frames of 1024x1024 literal codes, each failing at its last pixel",
         [] {
             return Animation(1024, 1024, 100, 2, [](int f) {
                 return LiteralImage(1024, 1024,
                                     Noise(size_t{1024} * 1024 - 1, static_cast<uint32_t>(f)));
             });
         }},
        {"65535 frames of 1x1",
         [] { return Animation(1, 1, 65535, 1, [](int) { return BuiltImage(1, 1, Bytes{1}); }); }},
        {"one 8192x4096 image of literal codes",
         [] {
             return Animation(8192, 4096, 1, 1, [](int) {
                 return LiteralImage(8192, 4096, Noise(size_t{8192} * 4096, 7));
             });
         }},
        {"one 1x1 image on a 8192x4096 screen",
         [] {
             return Animation(8192, 4096, 1, 1, [](int) { return BuiltImage(1, 1, Bytes{1}); });
         }},
    };
    return cases;
}

class PictureProbe : public CAnimatedPicture {
public:
    int FrameCount() const { return frames.GetSize(); }
    ULONGLONG FramePixels() const {
        ULONGLONG pixels = 0;
        for (int i = 0; i < frames.GetSize(); ++i)
            pixels += static_cast<ULONGLONG>(frames[i].cx) * frames[i].cy;
        return pixels;
    }
};

void BM_LoadAndShow(benchmark::State& state) {
    const Case& c = Cases()[static_cast<size_t>(state.range(0))];
    state.SetLabel(c.name);
    const Bytes bytes = c.make();
    picture_bench::HiddenHost host;
    PictureProbe control;
    control.SubclassWindow(host.child);
    HGLOBAL block = picture_bench::ToGlobal(bytes);
    double cpu = 0;
    size_t peak = 0;
    for (auto _ : state) {
        control.UnloadPicture();
        const size_t before = heap_meter::Current();
        heap_meter::ResetPeak();
        const double start = ThreadCpuSeconds();
        if (control.LoadMemory(block, static_cast<DWORD>(bytes.size()))) control.StartDisplay();
        control.StopPlayback();
        cpu = ThreadCpuSeconds() - start;
        peak = heap_meter::Peak() - before;
        state.SetIterationTime(cpu);
    }
    state.counters["cpu_ms"] = cpu * 1e3;
    state.counters["peak_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
    state.counters["file_KiB"] = static_cast<double>(bytes.size()) / 1024.0;
    state.counters["frames"] = control.FrameCount();
    state.counters["frame_Mpx"] = static_cast<double>(control.FramePixels()) / 1e6;
    control.UnloadPicture();
    GlobalFree(block);
}

void AllCases(benchmark::internal::Benchmark* b) {
    for (size_t i = 0; i < Cases().size(); ++i) b->Arg(static_cast<int64_t>(i));
}

BENCHMARK(BM_LoadAndShow)
    ->Apply(AllCases)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
