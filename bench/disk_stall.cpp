// How long the host's UI thread goes unserved while another program saturates the disk.
//
// BM_DiskStall/loaded: a dialog of 200 avatar controls for 200 users shows each user's picture
// with DisplaySN at a version one higher every round (so every round downloads every picture
// again, from Debian's nginx on the loopback interface, and records its version), while a 10 ms
// window timer of the host notes when it runs. With `loaded`, another process writes to the same
// file system all along (`dd ... conv=fsync` in a loop). The counters, over kMeasured:
//   longest_ms, p99_ms  the longest and the 99th-percentile time between two ticks of the host's
//                       timer (10 ms when the thread is never held up), leaving out the ticks
//                       held up by the host's own round of 200 DisplaySN calls;
//   over_50ms           ticks that came more than 50 ms after the one before;
//   asleep_ms           the longest time within one such gap that the UI thread was neither
//                       running nor waiting for a processor (from the scheduler's account):
//                       its wait for the next tick (up to 10 ms) and any wait on the disk. On a
//                       loaded machine a gap is mostly the CPU the thread used and the time it
//                       waited for a processor; this is the part the disk can be blamed for;
//   longest_steady_ms   the longest from the second round on: the first round also creates
//                       every control's version file, which the later rounds only rewrite;
//   longest_running_ms, longest_runnable_ms
//                       of the longest gap, the time the UI thread ran and the time it waited
//                       for a processor;
//   rounds              rounds of 200 DisplaySN calls;
//   recorded            controls whose version file holds the last round's version afterwards.
//   display_ms          the longest round of 200 DisplaySN calls (the host's own share of a gap).
// Before every round the store's pictures are removed and the server's get a new modification
// time, so that each round downloads whole new files, and each control finds its picture only
// once it has arrived and then records its version.
//
// On a machine that other work keeps busy, run it as `nice -n -10 bench_disk_stall` (as root):
// the gaps then hold less of the others' processor time, and asleep_ms none of it. The writer
// and the thread that puts the server's next pictures stay at the usual priority (nice 0), as
// another program and another machine would.
//
// With PORTRIX_BENCH_DISK_WAITS set, a watcher notes every wait of the UI thread on the disk
// while the timer runs, and the program prints those of 10 ms or more with their system calls
// and kernel stacks (see disk_waits.h; the stacks need root), and when the longest gap began
// and ended on the monotonic clock, to find it in a profile.
//
// The program gives itself an avatar store under the build folder: it sets PORTRIX_HKCU and
// starts itself again, since libportrix reads the registry while it loads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "NginxServer.h"
#include "Portrix.h"
#include "control_grid.h"
#include "disk_waits.h"
#include "disk_writer.h"
#include "platform/pump.h"
#include "solid_gif.h"
#include "store_restart.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nimbrel_test::NginxServer;

const std::string kHome = DISK_STALL_HOME;
const std::string kInstall = kHome + "/install";
constexpr int kControls = 200;
constexpr int kSide = kGridSide;
constexpr int kFirstUser = 100000;
constexpr uint32_t kPictureColor = 0xC02020;
constexpr uint32_t kDefaultColor = 0x808080;
constexpr UINT_PTR kHostTimer = 77;
constexpr UINT kHostPeriodMs = 10;
constexpr double kLongGapMs = 50;
constexpr std::chrono::seconds kMeasured{15};
constexpr std::chrono::seconds kWriterHeadStart{2};
constexpr std::chrono::milliseconds kRound{1500};
// When the next round's pictures are put on the server: this round's have arrived by then.
constexpr std::chrono::milliseconds kNextPicturesAfter{900};
const char* const kDefaults[] = {"default1.gif", "default2.gif", "man1.gif",      "man2.gif",
                                 "woman1.gif",   "woman2.gif",   "download1.gif", "download2.gif"};

std::string SolidGif(uint32_t rgb) {
    const std::string path = kHome + "/solid.gif";
    const bool ok = WriteSolidGif(path, rgb, kSide);
    std::string bytes;
    if (FILE* file = ok ? std::fopen(path.c_str(), "rb") : nullptr) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, n);
        std::fclose(file);
    }
    return bytes;
}

std::string UserOf(int i) {
    return std::to_string(kFirstUser + i);
}

void ResetStore() {
    for (const char* directory : {"Body", "Up", "Face", "Default", "SNS"}) {
        std::error_code ignored;
        for (const auto& entry :
             fs::directory_iterator(fs::path(kInstall) / "Avatar" / directory, ignored))
            fs::remove_all(entry.path(), ignored);
    }
    const std::string bytes = SolidGif(kDefaultColor);
    for (const char* name : kDefaults) {
        if (FILE* file = std::fopen((kInstall + "/Avatar/Default/" + name).c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
    }
}

// The users' pictures, last modified `round` seconds after a fixed past time, on the server
// and none in the store.
void PutPictures(const NginxServer& server, const std::string& picture, int round) {
    constexpr std::time_t kBase = 1700000000;
    for (int i = 0; i < kControls; ++i) {
        server.Put("Body/" + UserOf(i) + ".gif", picture, kBase + round);
        std::error_code ignored;
        fs::remove(kInstall + "/Avatar/Body/" + UserOf(i) + ".gif", ignored);
    }
}

// One tick of the host's timer: when it ran, and the UI thread's time on a processor and
// waiting for one until then (ns, /proc/thread-self/schedstat).
struct Tick {
    Clock::time_point when;
    long long running = 0, runnable = 0;
};
std::vector<Tick>* g_ticks = nullptr;
int g_schedstat = -1;

void CALLBACK HostTick(HWND, UINT, UINT_PTR, DWORD) {
    if (g_ticks == nullptr) return;
    Tick tick{Clock::now()};
    char text[128] = {};
    if (::pread(g_schedstat, text, sizeof text - 1, 0) > 0)
        std::sscanf(text, "%lld %lld", &tick.running, &tick.runnable);
    g_ticks->push_back(tick);
}

int RecordedAt(int version) {
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, "%05d", version);
    int count = 0;
    for (int i = 0; i < kControls; ++i) {
        char entry[5] = {};
        if (FILE* file =
                std::fopen((kInstall + "/Avatar/SNS/" + UserOf(i) + ".txt").c_str(), "rb")) {
            count += std::fread(entry, 1, sizeof entry, file) == sizeof entry &&
                             std::equal(entry, entry + sizeof entry, wanted)
                         ? 1
                         : 0;
            std::fclose(file);
        }
    }
    return count;
}

void BM_DiskStall(benchmark::State& state) {
    const bool loaded = state.range(0) != 0;
    for (auto _ : state) {
        NginxServer server;
        if (!server.Running()) {
            state.SkipWithError(("no server: " + server.StartError()).c_str());
            return;
        }
        const std::string picture = SolidGif(kPictureColor);
        for (const char* name : kDefaults) server.Put(name, SolidGif(kDefaultColor));
        PutPictures(server, picture, 0);
        ResetStore();
        ::sync();
        ControlGrid dialog("disk", kControls, kFirstUser, server.Address());

        std::unique_ptr<bench::DiskWriter> writer;
        if (loaded) {
            writer = std::make_unique<bench::DiskWriter>(
                kHome, static_cast<int>((kMeasured + kWriterHeadStart).count()) + 5);
            std::this_thread::sleep_for(kWriterHeadStart);
        }
        std::vector<Tick> ticks;
        ticks.reserve(4096);
        g_schedstat = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
        g_ticks = &ticks;
        std::unique_ptr<bench::DiskWaits> diskWaits;
        if (std::getenv("PORTRIX_BENCH_DISK_WAITS") != nullptr)
            diskWaits = std::make_unique<bench::DiskWaits>(::gettid());
        ::SetTimer(dialog.Window(), kHostTimer, kHostPeriodMs, HostTick);
        const auto start = Clock::now();
        int round = 0;
        double displayMs = 0;
        std::vector<std::pair<Clock::time_point, Clock::time_point>> displays;
        while (Clock::now() - start < kMeasured) {
            ++round;
            const auto roundStart = Clock::now();
            for (auto& control : dialog.Controls()) {
                control->SetImageSN(round);
                control->DisplaySN();
            }
            displays.emplace_back(roundStart, Clock::now());
            displayMs = std::max(
                displayMs,
                std::chrono::duration<double, std::milli>(Clock::now() - roundStart).count());
            // The next round's pictures are put aside from this thread, whose disk waits are
            // what is measured.
            std::atomic<bool> put{false};
            std::thread putter([&] {
                // It stands for the server's side: not at the priority the host was given.
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 0);
                std::this_thread::sleep_until(roundStart + kNextPicturesAfter);
                PutPictures(server, picture, round);
                put = true;
            });
            platform::PumpMessagesUntil(
                [&] { return put.load() && Clock::now() - roundStart >= kRound; },
                std::chrono::seconds(60));
            putter.join();
        }
        ::KillTimer(dialog.Window(), kHostTimer);
        g_ticks = nullptr;
        if (diskWaits != nullptr) {
            diskWaits->Stop();
            diskWaits->Report(stderr, 10);
        }
        ::close(g_schedstat);
        writer.reset();
        // The last round's pictures and versions, without the writer.
        platform::PumpMessagesUntil([] { return false; }, kRound);

        std::vector<double> gaps;
        double asleep = 0;
        double longest = 0, longestRunning = 0, longestRunnable = 0, longestSteady = 0;
        Clock::time_point longestFrom, longestTo;
        for (size_t i = 1; i < ticks.size(); ++i) {
            const Tick& from = ticks[i - 1];
            const Tick& to = ticks[i];
            const bool hostsOwn = std::any_of(displays.begin(), displays.end(), [&](const auto& d) {
                return from.when < d.second && d.first < to.when;
            });
            if (hostsOwn) continue;
            const double gap =
                std::chrono::duration<double, std::milli>(to.when - from.when).count();
            gaps.push_back(gap);
            if (displays.size() > 1 && from.when >= displays[1].first)
                longestSteady = std::max(longestSteady, gap);
            const double busy =
                static_cast<double>(to.running - from.running + to.runnable - from.runnable) / 1e6;
            asleep = std::max(asleep, gap - busy);
            if (gap > longest) {
                longest = gap;
                longestRunning = static_cast<double>(to.running - from.running) / 1e6;
                longestRunnable = static_cast<double>(to.runnable - from.runnable) / 1e6;
                longestFrom = from.when;
                longestTo = to.when;
            }
        }
        if (diskWaits != nullptr) {
            // On the clock of `perf record -k CLOCK_MONOTONIC`, to find the gap in a profile.
            auto seconds = [](Clock::time_point t) {
                return std::chrono::duration<double>(t.time_since_epoch()).count();
            };
            std::fprintf(stderr, "longest gap: %.6f to %.6f s (CLOCK_MONOTONIC)\n",
                         seconds(longestFrom), seconds(longestTo));
        }
        const bench::GapFigures figures = bench::FiguresOf(gaps, kLongGapMs);
        state.SetIterationTime(figures.longest / 1000);
        state.counters["longest_ms"] = figures.longest;
        state.counters["p99_ms"] = figures.p99;
        state.counters["over_50ms"] = figures.over;
        state.counters["asleep_ms"] = asleep;
        state.counters["longest_steady_ms"] = longestSteady;
        state.counters["longest_running_ms"] = longestRunning;
        state.counters["longest_runnable_ms"] = longestRunnable;
        state.counters["rounds"] = round;
        state.counters["display_ms"] = displayMs;
        state.counters["recorded"] = RecordedAt(round);
    }
}
BENCHMARK(BM_DiskStall)
    ->ArgName("loaded")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    RestartWithStore(kInstall, kHome + "/hkcu.reg", argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
