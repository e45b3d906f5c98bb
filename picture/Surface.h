// A drawing surface of the control: a memory DC, the bitmap selected into it and the object
// that bitmap displaced. Private to the picture folder.
#pragma once

#include <windows.h>

// Puts the displaced object back, then deletes the DC and the bitmap; the handles are cleared so
// that a second release does nothing.
inline void ReleaseSurface(HDC& dc, HBITMAP& bitmap, HGDIOBJ displaced) {
    if (dc == nullptr) return;
    SelectObject(dc, displaced);
    DeleteDC(dc);
    DeleteObject(bitmap);
    dc = nullptr;
    bitmap = nullptr;
}
