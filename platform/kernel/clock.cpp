// The layer's one wall clock: the system's real-time clock moved by a test offset.
#include <atomic>
#include <chrono>

#include "platform/clock.h"

namespace platform {
namespace {

// FILETIME counts 100 ns units from 1601-01-01; the Unix epoch lies this far after it.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10'000'000;

std::atomic<int64_t> g_offsetSeconds{0};

}  // namespace

void SetClockOffset(std::chrono::seconds offset) {
    g_offsetSeconds.store(offset.count(), std::memory_order_relaxed);
}

std::chrono::seconds ClockOffset() {
    return std::chrono::seconds(g_offsetSeconds.load(std::memory_order_relaxed));
}

int64_t ClockNowFileTime() {
    using Hundreds = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
    const auto sinceUnix =
        std::chrono::duration_cast<Hundreds>(std::chrono::system_clock::now().time_since_epoch());
    return kUnixEpochAsFileTime + sinceUnix.count() +
           g_offsetSeconds.load(std::memory_order_relaxed) * kFileTimeUnitsPerSecond;
}

}  // namespace platform
