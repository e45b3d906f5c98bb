// The seam between USER (windows, messages, painting) and GDI (device contexts and pixels).
// Private to the platform layer.
//
// GDI owns all pixels: every top-level window has a framebuffer (32-bit 0x00RRGGBB pixels)
// that GDI keeps, sized to the window. USER owns geometry, visibility and update regions.
// A window DC draws into its top-level window's framebuffer, offset to the window's client
// origin and clipped to the window's client area (and, for a paint DC, to the paint clip).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "windef.h"

namespace platform::internal {

// Locking between the two families: GDI never holds its own lock while it calls
// QueryWindowPlacement, and USER must not hold its lock while it calls into GDI (the functions
// below, GetDC, ReleaseDC, or any wingdi.h call), since every GDI drawing call asks USER for the
// window's geometry afresh.

// Implemented by USER, called by GDI.
// Where the client area of hwnd lies in its top-level window's framebuffer. FALSE when hwnd is
// not a window. clientInTop: the client rectangle in top-level client coordinates; visible: the
// part of it that is shown (empty when the window or an ancestor is hidden).
struct WindowPlacement {
    HWND top;
    SIZE topClientSize;
    RECT clientInTop;
    RECT visibleInTop;
};
BOOL QueryWindowPlacement(HWND hwnd, WindowPlacement* placement);

// Implemented by GDI, called by USER.
// A DC over hwnd's client area whose drawing is further clipped to clipClient (client
// coordinates; null for the whole client area). Released with ReleaseDC(hwnd, dc).
HDC CreateWindowDCClipped(HWND hwnd, const RECT* clipClient);
// Fills a rectangle of a DC (DC coordinates) with one colour: the default erase of a window.
void FillDCRect(HDC hdc, const RECT& rect, COLORREF color);
// Called by USER when a top-level window is destroyed, so its framebuffer goes with it.
void DiscardWindowFramebuffer(HWND top);

// Implemented by GDI, called by the display back end.
// Copies the part of top's framebuffer (of client size size) inside area (top-level client
// coordinates) into pixels, row-major; copied is the part copied, empty when there is none.
void CopyFramebuffer(HWND top, SIZE size, const RECT& area, std::vector<uint32_t>* pixels,
                     RECT* copied);

// Implemented by GDI, called by OLE (IPicture::Render) and by capture.
// Runs fn with the DC's pixels under the GDI lock. FALSE when hdc is not a DC or has no pixels.
// fn must not call GDI (the lock is not recursive). For a window DC the buffer is the top-level
// framebuffer and clip is the window's visible client area (and paint clip).
struct PixelView {
    uint32_t* bits;  // row-major, top row first, 0x00RRGGBB
    int stride;      // pixels per row
    int width;       // size of the pixel buffer
    int height;
    POINT origin;  // where DC coordinate (0,0) lies in the buffer
    RECT clip;     // buffer coordinates that drawing may touch (already inside the buffer)
};
BOOL WithDCPixels(HDC hdc, const std::function<void(const PixelView&)>& fn);

}  // namespace platform::internal
