// Injecting mouse input at a screen point.
#pragma once
#include "windef.h"

namespace platform {

// Posts a mouse message (WM_MOUSEMOVE, WM_LBUTTONDOWN/UP/DBLCLK, WM_RBUTTONDOWN/UP/DBLCLK,
// WM_MBUTTONDOWN/UP/DBLCLK) to the window that WindowFromPoint finds at the screen point: the
// topmost visible, enabled window, descending to its deepest such child. wParam is keyFlags
// (MK_LBUTTON, MK_RBUTTON, MK_SHIFT, MK_CONTROL, MK_MBUTTON), lParam the point in that window's
// client coordinates, MAKELPARAM(x, y). The message is posted to the window's owner thread.
// FALSE when the message is not a mouse message or no window is under the point.
// Hit-testing asks the window (WM_NCHITTEST) when the caller owns it; for a window of another
// thread the class's own rule is used (a STATIC without SS_NOTIFY is transparent).
BOOL InjectMouse(POINT screenPoint, UINT message, WPARAM keyFlags);

}  // namespace platform
