// How long playback shows a frame, and how long a stop waits for the thread.
#pragma once

#include <windows.h>

#include "PictureUnits.h"

namespace playback_timing {

constexpr DWORD kStopWaitMs = 600;        // StopPlayback's wait for the thread
constexpr DWORD kFrameWaitCapMs = 10000;  // no frame stays longer, whatever its delay
constexpr int kShortDelayLimit = 4;       // delays 0..4 are too short to honour ...
constexpr LONGLONG kShortDelayMs = 100;   // ... and show the frame for 100 ms instead
constexpr LONGLONG kMsPerDelayUnit = 10;  // GIF delays count hundredths of a second
// A frame without a graphic control extension: an absolute due time long past, so the timer
// is signalled at once and the next frame follows without a pause.
constexpr LONGLONG kImmediateDueTime = 100000;

// The timer's due time for a frame's stored delay.
inline LONGLONG DueTimeForDelay(int delay) {
    if (delay < 0) return kImmediateDueTime;
    if (delay <= kShortDelayLimit) return picture_units::RelativeDueTime(kShortDelayMs);
    return picture_units::RelativeDueTime(static_cast<LONGLONG>(delay) * kMsPerDelayUnit);
}

}  // namespace playback_timing
