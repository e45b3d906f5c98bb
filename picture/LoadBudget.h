// What one picture may cost to load, so that no file holds the loading thread (the host's
// user-interface thread) for much more than a second. The figures come from the benchmark
// bench/picture_load_bound: decoding costs up to about 10 ns a pixel, a frame about 2 us on top
// of its pixels, and the drawing surfaces about as much per pixel of the logical screen as
// decoding does.
#pragma once

#include <windows.h>

namespace load_budget {

// Pixels that one animation may cost: its logical screen, for the drawing surfaces, and the
// frames that the picture loader is given to decode, each charged kPerFramePixels on top of its
// pixels. A frame is charged whether it decodes or not, since a frame that fails late cost as
// much. The frames past the budget are dropped. (A still picture is one image on one screen,
// which the platform's limits bound.)
constexpr ULONGLONG kPixels = 64ull << 20;
constexpr ULONGLONG kPerFramePixels = 256;

// LoadFile refuses larger files before reading them: more data than any picture within the
// budget needs, and reading it would cost memory and time for nothing.
constexpr DWORD kMaxFileBytes = 64u << 20;

inline ULONGLONG Area(int cx, int cy) {
    return static_cast<ULONGLONG>(cx > 0 ? cx : 0) * static_cast<ULONGLONG>(cy > 0 ? cy : 0);
}
inline ULONGLONG ScreenCharge(int width, int height) {
    return Area(width, height);
}
inline ULONGLONG FrameCharge(int cx, int cy) {
    return Area(cx, cy) + kPerFramePixels;
}

}  // namespace load_budget
