// The avatar control's latency and polling cost, driven as a host drives it:
//   - Display on a fresh stored picture until its first paint reaches the screen;
//   - the user-interface thread's CPU time in Display of a fresh stored still against that of
//     an animation of 100 frames;
//   - a downloaded file appearing in the store until its first paint (timer 1 polls at 50 ms,
//     so about half a period of that is waiting for the next tick);
//   - the CPU time of a control polling with timer 2 (every 10 ms) for 10 s;
//   - a dialog of 200 controls whose pictures never come (the server refuses): the cores the
//     process uses once they all poll with timer 2;
//   - a dialog of 200 controls playing animated pictures of 5 users (40 controls each, as in a
//     chat) and of 200 users: resident memory per control. Run each of these two on its own
//     (--benchmark_filter=Users:5/ and Users:200/): memory freed by one stays with the process.
// The program gives itself an avatar store under the build folder: it sets PORTRIX_HKCU and
// starts itself again, since libportrix reads the registry while it loads.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Portrix.h"
#include "gif_builder.h"
#include "platform/capture.h"
#include "platform/picture_cache.h"
#include "platform/pump.h"
#include "solid_gif.h"
#include "store_restart.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kInstall = AVATAR_BENCH_HOME "/install";
constexpr int kLeft = 10, kTop = 10, kSide = 48;

std::string StorePath(const std::string& relative) {
    return kInstall + "/Avatar/" + relative;
}

// Written aside and renamed into place, as a download completes.
void PutPicture(const std::string& relative, uint32_t rgb) {
    const std::string path = StorePath(relative);
    WriteSolidGif(path + ".part", rgb, kSide);
    std::rename((path + ".part").c_str(), path.c_str());
}

class Host {
public:
    Host() {
        dialog_ = ::CreateWindowExA(0, WC_DIALOG, "bench", WS_POPUP | WS_VISIBLE, 0, 0, 120, 120,
                                    nullptr, nullptr, nullptr, nullptr);
        HWND child = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, kLeft,
                                       kTop, kSide, kSide, dialog_, nullptr, nullptr, nullptr);
        control_.SubclassWindow(child);
        control_.SetServerAddress("127.0.0.1:9");  // nothing listens: downloads fail at once
    }
    ~Host() { ::DestroyWindow(dialog_); }
    CPortrix& control() { return control_; }

    uint32_t ShownColor() const {
        std::vector<uint32_t> pixels;
        int width = 0, height = 0;
        if (!platform::CaptureWindow(dialog_, &pixels, &width, &height)) return 0xFFFFFFFFu;
        return pixels[static_cast<size_t>(kTop + kSide / 2) * static_cast<size_t>(width) + kLeft +
                      kSide / 2];
    }
    // Pumps until the colour shows, looking at least every millisecond.
    bool WaitForColor(uint32_t rgb, std::chrono::milliseconds timeout = 5s) {
        const auto deadline = Clock::now() + timeout;
        while (ShownColor() != rgb) {
            if (Clock::now() > deadline) return false;
            platform::PumpMessagesUntil([&] { return ShownColor() == rgb; }, 1ms);
        }
        return true;
    }

private:
    HWND dialog_ = nullptr;
    CPortrix control_;
};

void EmptyStore() {
    for (const char* directory : {"Body", "Up", "Face", "Default", "SNS"}) {
        std::error_code ignored;
        for (const auto& entry :
             fs::directory_iterator(fs::path(kInstall) / "Avatar" / directory, ignored))
            fs::remove_all(entry.path(), ignored);
    }
}

void BM_DisplayFreshPictureToFirstPaint(benchmark::State& state) {
    EmptyStore();
    PutPicture("Body/20001.gif", 0xC02020);
    PutPicture("Body/20002.gif", 0x20C020);
    Host host;
    host.control().SetImageType(1);
    bool first = true;
    for (auto _ : state) {
        const char* id = first ? "20001" : "20002";
        const uint32_t rgb = first ? 0xC02020 : 0x20C020;
        first = !first;
        host.control().SetUserID(id);
        const auto start = Clock::now();
        host.control().Display();
        if (!host.WaitForColor(rgb)) state.SkipWithError("the picture never showed");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_DisplayFreshPictureToFirstPaint)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

constexpr int kStoredFrames = 100;

// frames different frames (1: a still) of side x side over a 256-colour table; salt makes the
// pictures of two users differ.
void PutPattern(const std::string& relative, int side, int frames, int salt) {
    gif_test::GifBuilder b;
    b.Header().Screen(side, side, 7).Loop(0);
    std::vector<uint8_t> raster(static_cast<size_t>(side) * side);
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                raster[static_cast<size_t>(y) * side + x] =
                    static_cast<uint8_t>(((x + f * 3) / 8 + (y / 8) * 5 + f + salt * 7) & 0xFF);
            }
        }
        b.GraphicControl(5, 1).Image(0, 0, side, side, raster);
    }
    b.Trailer();
    const std::string path = StorePath(relative);
    if (FILE* file = std::fopen((path + ".part").c_str(), "wb")) {
        std::fwrite(b.Bytes().data(), 1, b.Bytes().size(), file);
        std::fclose(file);
    }
    std::rename((path + ".part").c_str(), path.c_str());
}

// What Display costs the user-interface thread (its CPU time) for a fresh stored picture of
// side x side: a still in one control, and an animation of kStoredFrames frames in another,
// taking turns in one loop so that both are measured under the same conditions (this
// machine's speed drifts by up to two times from one run to the next), with their ratio. Each
// control takes turns between two users of its kind, so that every call loads a picture that
// no control holds and unloads one of the same kind.
void BM_DisplayFreshStored(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    EmptyStore();
    PutPattern("Body/21001.gif", side, 1, 1);
    PutPattern("Body/21002.gif", side, 1, 2);
    PutPattern("Body/21003.gif", side, kStoredFrames, 1);
    PutPattern("Body/21004.gif", side, kStoredFrames, 2);
    const char* const users[2][2] = {{"21001", "21002"}, {"21003", "21004"}};
    Host hosts[2];  // still, animation
    for (Host& host : hosts) host.control().SetImageType(1);
    // Every picture once before the timing: the process's first loads cost more.
    for (size_t kind = 0; kind < 2; ++kind) {
        for (const char* user : users[kind]) {
            hosts[kind].control().SetUserID(user);
            hosts[kind].control().Display();
            platform::PumpMessagesUntil([] { return false; }, 20ms);
        }
    }
    double cpu[2] = {0, 0};
    size_t turn = 0;
    for (auto _ : state) {
        const size_t kind = turn % 2;
        hosts[kind].control().SetUserID(users[kind][(turn / 2) % 2]);
        ++turn;
        const double start = ThreadCpuSeconds();
        hosts[kind].control().Display();
        cpu[kind] += ThreadCpuSeconds() - start;
        state.PauseTiming();
        platform::PumpMessagesUntil([] { return false; }, 20ms);  // paints, playback starts
        state.ResumeTiming();
    }
    const double each = static_cast<double>(state.iterations()) / 2;
    state.counters["still_ms"] = cpu[0] * 1e3 / each;
    state.counters["animation_ms"] = cpu[1] * 1e3 / each;
    state.counters["ratio"] = cpu[0] > 0 ? cpu[1] / cpu[0] : 0;
}
BENCHMARK(BM_DisplayFreshStored)
    ->ArgNames({"side"})
    ->Arg(96)
    ->Arg(200)
    ->Iterations(80)
    ->Unit(benchmark::kMillisecond);

void BM_DownloadedFileToFirstPaint(benchmark::State& state) {
    EmptyStore();
    PutPicture("Default/download1.gif", 0x2020C0);
    Host host;
    host.control().SetImageType(1);
    int user = 30000;
    for (auto _ : state) {
        const std::string id = std::to_string(++user);
        host.control().SetUserID(id.c_str());
        host.control().Display();  // missing: placeholder, download request, timer 1
        if (!host.WaitForColor(0x2020C0)) state.SkipWithError("no placeholder");
        // Land the file at a moment unrelated to the timer's phase.
        platform::PumpMessagesUntil([] { return false; }, std::chrono::milliseconds(5 + user % 40));
        const auto start = Clock::now();
        PutPicture("Body/" + id + ".gif", 0xC0C020);
        if (!host.WaitForColor(0xC0C020)) state.SkipWithError("the picture never showed");
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_DownloadedFileToFirstPaint)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void BM_SecondPhasePollingFor10s(benchmark::State& state) {
    EmptyStore();
    PutPicture("Default/default1.gif", 0x808080);
    PutPicture("Default/download1.gif", 0x2020C0);
    Host host;
    host.control().SetImageType(1);
    host.control().SetUserID("40001");
    host.control().Display();
    // The 21st tick of timer 1 shows the default and starts timer 2.
    if (!host.WaitForColor(0x2020C0) || !host.WaitForColor(0x808080))
        state.SkipWithError("no second phase");
    for (auto _ : state) {
        const double cpuStart = ProcessCpuSeconds();
        const auto start = Clock::now();
        platform::PumpMessagesUntil([] { return false; }, 10s);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_percent"] = 100.0 * (ProcessCpuSeconds() - cpuStart) / wall;
    }
}
BENCHMARK(BM_SecondPhasePollingFor10s)->Iterations(1)->Unit(benchmark::kSecond);

constexpr int kDialogControls = 200;
constexpr int kDialogColumns = 20;
constexpr int kAnimationSide = 96;
constexpr int kAnimationFrames = 10;

// A visible dialog of N static children laid out in a grid, painted once, then N controls
// attached to them, all for image type 1. The dialog and its children are the host's: what
// they cost comes before Attach.
class DialogOfControls {
public:
    explicit DialogOfControls(int count) {
        const int rows = (count + kDialogColumns - 1) / kDialogColumns;
        dialog_ = ::CreateWindowExA(0, WC_DIALOG, "bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                    kDialogColumns * kAnimationSide, rows * kAnimationSide, nullptr,
                                    nullptr, nullptr, nullptr);
        for (int i = 0; i < count; ++i) {
            children_.push_back(::CreateWindowExA(
                0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_NOTIFY,
                i % kDialogColumns * kAnimationSide, i / kDialogColumns * kAnimationSide, kSide,
                kSide, dialog_, nullptr, nullptr, nullptr));
        }
        platform::PumpMessagesUntil([] { return false; }, 200ms);
    }
    ~DialogOfControls() { ::DestroyWindow(dialog_); }
    void Attach() {
        for (HWND child : children_) {
            controls_.push_back(std::make_unique<CPortrix>());
            controls_.back()->SubclassWindow(child);
            controls_.back()->SetServerAddress("127.0.0.1:9");  // refused at once
            controls_.back()->SetImageType(1);
        }
    }
    CPortrix& operator[](size_t i) { return *controls_[i]; }

private:
    HWND dialog_ = nullptr;
    std::vector<HWND> children_;
    std::vector<std::unique_ptr<CPortrix>> controls_;
};

void BM_DialogPollingForPicturesThatNeverCome(benchmark::State& state) {
    EmptyStore();
    PutPicture("Default/default1.gif", 0x808080);
    PutPicture("Default/download1.gif", 0x2020C0);
    const int count = static_cast<int>(state.range(0));
    DialogOfControls dialog(count);
    dialog.Attach();
    for (int i = 0; i < count; ++i) {
        dialog[static_cast<size_t>(i)].SetUserID(std::to_string(60000 + i).c_str());
        dialog[static_cast<size_t>(i)].Display();
    }
    // Timer 1 gives up after about 1.05 s; then every control polls with timer 2.
    platform::PumpMessagesUntil([] { return false; }, 3s);
    for (auto _ : state) {
        const double cpuStart = ProcessCpuSeconds();
        const auto start = Clock::now();
        platform::PumpMessagesUntil([] { return false; }, 10s);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cores"] = (ProcessCpuSeconds() - cpuStart) / wall;
        state.counters["us_per_tick"] =
            (ProcessCpuSeconds() - cpuStart) * 1e6 / (wall * 100.0 * static_cast<double>(count));
    }
}
BENCHMARK(BM_DialogPollingForPicturesThatNeverCome)
    ->Arg(kDialogControls)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// An animation of 10 frames, each its own pattern, that differs from user to user.
void PutAnimation(const std::string& relative, int user) {
    gif_test::GifBuilder b;
    b.Header().Screen(kAnimationSide, kAnimationSide, 7).Loop(0);
    std::vector<uint8_t> raster(static_cast<size_t>(kAnimationSide) * kAnimationSide);
    for (int f = 0; f < kAnimationFrames; ++f) {
        for (int y = 0; y < kAnimationSide; ++y) {
            for (int x = 0; x < kAnimationSide; ++x) {
                raster[static_cast<size_t>(y) * kAnimationSide + x] =
                    static_cast<uint8_t>(((x + f * 3) / 8 + (y / 8) * 5 + f + user * 7) & 0xFF);
            }
        }
        b.GraphicControl(10, 1).Image(0, 0, kAnimationSide, kAnimationSide, raster);
    }
    b.Trailer();
    const std::string path = StorePath(relative);
    if (FILE* file = std::fopen((path + ".part").c_str(), "wb")) {
        std::fwrite(b.Bytes().data(), 1, b.Bytes().size(), file);
        std::fclose(file);
    }
    std::rename((path + ".part").c_str(), path.c_str());
}

long ResidentKb() {
    long kb = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
        }
        std::fclose(status);
    }
    return kb;
}

void BM_DialogOfAnimatedAvatarsOfUsers(benchmark::State& state) {
    const int users = static_cast<int>(state.range(0));
    EmptyStore();
    PutPicture("Default/default1.gif", 0x808080);
    for (int u = 0; u < users; ++u) PutAnimation("Body/" + std::to_string(70000 + u) + ".gif", u);
    for (auto _ : state) {
        DialogOfControls dialog(kDialogControls);
        malloc_trim(0);  // memory freed while the store was written would hide new memory
        const long before = ResidentKb();
        dialog.Attach();
        for (int i = 0; i < kDialogControls; ++i) {
            CPortrix& control = dialog[static_cast<size_t>(i)];
            control.SetUserID(std::to_string(70000 + i % users).c_str());
            control.Display();
        }
        platform::PumpMessagesUntil([] { return false; }, 2s);
        state.counters["rss_kb_per_control"] =
            static_cast<double>(ResidentKb() - before) / kDialogControls;
        state.counters["decoded_kb_per_control"] =
            static_cast<double>(platform::DecodedPictureBytes()) / 1024.0 / kDialogControls;
        // What stays once the allocator has given back its free pages: the difference is
        // memory freed by loading that the allocator keeps.
        malloc_trim(0);
        state.counters["trimmed_kb_per_control"] =
            static_cast<double>(ResidentKb() - before) / kDialogControls;
    }
}
BENCHMARK(BM_DialogOfAnimatedAvatarsOfUsers)
    ->ArgName("Users")
    ->Arg(5)
    ->Arg(kDialogControls)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    RestartWithStore(kInstall, AVATAR_BENCH_HOME "/hkcu.reg", argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
