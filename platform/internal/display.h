// The seam between USER and GDI on one side and the display back end (platform/display) on the
// other, which shows every visible top-level window on an X server when the process has one.
// Private to the platform layer.
//
// Locking: USER and GDI call the back end without their own locks held. The back end calls USER
// and GDI without its map lock held; it holds its send lock around a copy out of a
// framebuffer, so that lock comes before GDI's. Each call costs one atomic load when there is
// no display.
#pragma once

#include <string>

#include "windef.h"

namespace platform::internal {

// Implemented by the display back end, called by USER and GDI.
// True when top-level windows go to an X server. The first call connects (or finds that the
// process has no display) once for the process; false again once the connection is lost.
bool DisplayConnected();
// Something about hwnd changed that the real window must follow: shown, hidden, moved, resized
// or retitled. The back end reads the window's state afresh; a child window or a top-level
// window never shown costs nothing. The first call for a visible top-level window connects.
void DisplayWindowChanged(HWND hwnd);
void DisplayWindowDestroyed(HWND top);
// A window DC of hwnd was released: what was drawn through it goes to the screen.
void DisplayWindowDrawn(HWND hwnd);
// A modal box on the display, owned by the calling thread; 0 when there is no display.
int DisplayMessageBox(LPCSTR text, LPCSTR caption, UINT type);

// Implemented by USER, called by the display back end.
struct TopLevelState {
    bool visible;
    RECT rect;  // screen coordinates; the whole rectangle is client area
    std::string title;
    DWORD style;
    bool placedByHost;  // false: created at CW_USEDEFAULT and not moved since
};
// FALSE when hwnd is not a top-level window.
BOOL QueryTopLevel(HWND hwnd, TopLevelState* state);
// The window manager moved the real window: the window's client area is now at origin
// (screen coordinates). Its rectangle follows and WM_MOVE is posted.
void MovedByWindowManager(HWND top, POINT origin);
// The window manager minimised or restored the real window: WM_SIZE is posted with
// SIZE_MINIMIZED or SIZE_RESTORED, and IsIconic follows.
void MinimizedByWindowManager(HWND top, bool minimized);
// The window at the screen point as platform::InjectMouse finds it, but looked for only in the
// tree of top (the real window the pointer is in); null when none there takes the mouse.
HWND WindowFromPointInTop(HWND top, POINT screenPoint);

}  // namespace platform::internal
