// The one clock behind every wall-clock time the layer reports: GetSystemTimeAsFileTime,
// GetSystemTime, GetLocalTime, CTime::GetCurrentTime, COleDateTime::GetCurrentTime and the
// absolute due times of waitable timers. It is the system's real-time clock plus an offset
// that tests may move; steady time (GetTickCount, relative timers, wait timeouts) is not
// affected. The offset is process-wide and safe to change from any thread.
#pragma once
#include <chrono>
#include <cstdint>

namespace platform {

// Moves every reported wall-clock time by offset (positive: into the future).
void SetClockOffset(std::chrono::seconds offset);
std::chrono::seconds ClockOffset();

// The clock's current time as 100-nanosecond units since 1601-01-01 UTC (a FILETIME value).
int64_t ClockNowFileTime();

}  // namespace platform
