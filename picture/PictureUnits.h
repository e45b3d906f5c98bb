// Unit conversions of the picture control, each in one place.
#pragma once

#include <windows.h>

namespace picture_units {

// HIMETRIC: hundredths of a millimetre, 2540 to the inch.
constexpr int kHimetricPerInch = 2540;

inline int HimetricToPixels(LONG himetric, int pixelsPerInch) {
    return MulDiv(himetric, pixelsPerInch, kHimetricPerInch);
}

// Waitable-timer due times count 100-nanosecond units; negative means relative to now.
constexpr LONGLONG kHundredNanosecondsPerMillisecond = 10000;

inline LONGLONG RelativeDueTime(LONGLONG milliseconds) {
    return -milliseconds * kHundredNanosecondsPerMillisecond;
}

}  // namespace picture_units
