// The kernel family's costs that playback feels: an event round trip between two threads, alone
// and beside idle threads waiting on objects of their own (which it must not disturb), how late
// a waitable timer fires, and a global block's allocate-lock-free cycle.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "process.h"
#include "windows.h"

namespace {

void BM_EventRoundTrip(benchmark::State& state) {
    HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> done{false};
    std::thread echo([&] {
        while (WaitForSingleObject(ping, INFINITE) == WAIT_OBJECT_0 && !done.load()) SetEvent(pong);
    });
    for (auto _ : state) {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
    done = true;
    SetEvent(ping);
    echo.join();
    CloseHandle(ping);
    CloseHandle(pong);
}
BENCHMARK(BM_EventRoundTrip)->UseRealTime();

// The same round trip while other threads wait, each on its own event and timer, as playback
// threads do between frames. The process's CPU time per round trip should not grow with them.
void BM_EventRoundTripBesideIdleWaiters(benchmark::State& state) {
    const int idle = static_cast<int>(state.range(0));
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> waiters;
    for (int i = 0; i < idle; ++i) {
        waiters.emplace_back([release] {
            HANDLE timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
            LARGE_INTEGER due;
            due.QuadPart = -10'000'000LL * 3600;
            SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
            HANDLE handles[] = {timer, release};
            WaitForMultipleObjects(2, handles, FALSE, INFINITE);
            CloseHandle(timer);
        });
    }
    BM_EventRoundTrip(state);
    SetEvent(release);
    for (auto& waiter : waiters) waiter.join();
    CloseHandle(release);
}
BENCHMARK(BM_EventRoundTripBesideIdleWaiters)
    ->Arg(100)
    ->Arg(500)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Lateness of a relative timer of the given milliseconds, waited on with a stop event as the
// playback thread does.
void BM_TimerLateness(benchmark::State& state) {
    const auto delay = std::chrono::milliseconds(state.range(0));
    HANDLE timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE handles[] = {timer, stop};
    double lateUs = 0;
    for (auto _ : state) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(delay.count()) * 10'000;
        const auto start = std::chrono::steady_clock::now();
        SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
        WaitForMultipleObjects(2, handles, FALSE, 10'000);
        lateUs += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() -
                                                            start - delay)
                      .count();
    }
    state.counters["late_us"] = benchmark::Counter(lateUs, benchmark::Counter::kAvgIterations);
    CloseHandle(timer);
    CloseHandle(stop);
}
BENCHMARK(BM_TimerLateness)->Arg(10)->Arg(100)->UseRealTime()->Iterations(20);

void BM_GlobalBlockCycle(benchmark::State& state) {
    const SIZE_T size = static_cast<SIZE_T>(state.range(0));
    for (auto _ : state) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, size);
        benchmark::DoNotOptimize(GlobalLock(block));
        GlobalUnlock(block);
        GlobalFree(block);
    }
}
BENCHMARK(BM_GlobalBlockCycle)->Arg(64)->Arg(64 << 10);

}  // namespace

BENCHMARK_MAIN();
