// The screen: when the process has an X display, every visible top-level window of the layer
// is a real X11 window of the same client size and title, showing what is drawn into it, and
// the mouse, the keyboard and the window manager's close button on it arrive as window
// messages. Not part of Win32.
//
// The layer connects when the first top-level window is shown, if DISPLAY names a reachable X
// server whose default visual is TrueColor (24-bit, what every current server offers; 16- and
// 30-bit screens get the pixels converted), and PORTRIX_NO_DISPLAY is unset, empty or "0".
// Otherwise it stays headless: windows live in memory only, as they always do for
// CaptureWindow, and AfxMessageBox/MessageBoxA go to the message-box sink. A connection lost
// later (the server went away) is said once on standard error, and the layer goes on headless
// from then: windows live on in memory, and a box shown at the time answers as without a
// display.
//
// Where it shows: a top-level window's rectangle is its real window's place and client size
// when it is shown or moved. A window manager may place it elsewhere (around a frame, or
// anywhere for a window created at CW_USEDEFAULT) and move it later: the rectangle follows
// (GetWindowRect, ClientToScreen) and WM_MOVE is posted. Minimising and restoring by the
// window manager post WM_SIZE with SIZE_MINIMIZED or SIZE_RESTORED, and IsIconic follows. The
// window manager cannot resize a window. A WS_POPUP window without WS_CAPTION asks for no
// title bar (a thin border with WS_BORDER). Key presses go to the top-level window that has
// the X input focus, with WM_CHAR posted after WM_KEYDOWN (TranslateMessage makes none).
//
// On Windows (portrixmfc.dll) the system shows the windows: there is a display unless the
// process's window station is invisible (a service), no window has an X11 id, and FlushDisplay
// flushes the calling thread's GDI batch.
#pragma once

#include "windef.h"

namespace platform {

// True when top-level windows are shown on an X server; the first call connects.
bool HasDisplay();

// Null while top-level windows are shown on an X server; otherwise one sentence saying why
// not: DISPLAY unset, its server unreachable, PORTRIX_NO_DISPLAY set, a screen that is not
// TrueColor, or the connection lost. The first call connects.
const char* DisplayProblem();

// The X11 window that shows the top-level window hwnd; 0 when there is none (no display, a
// child window, or a window never shown).
unsigned long DisplayWindowId(HWND hwnd);

// Waits until everything drawn into shown windows so far, and what the server asked to be
// shown again, is on the X server, where another client reads it. FALSE when there is no
// display.
BOOL FlushDisplay();

}  // namespace platform
