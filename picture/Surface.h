// A drawing surface of the control: a memory DC, the bitmap selected into it and the object
// that bitmap displaced. Private to the picture folder.
#pragma once

#include <windows.h>

// Makes a memory DC compatible with `like` and selects a new cx by cy bitmap into it. TRUE with
// the three handles set; FALSE with nothing left behind and dc and bitmap null.
inline BOOL BuildSurface(HDC like, int cx, int cy, HDC& dc, HBITMAP& bitmap, HGDIOBJ& displaced) {
    dc = CreateCompatibleDC(like);
    if (dc == nullptr) return FALSE;
    bitmap = CreateCompatibleBitmap(like, cx, cy);
    if (bitmap == nullptr) {
        DeleteDC(dc);
        dc = nullptr;
        return FALSE;
    }
    displaced = SelectObject(dc, bitmap);
    return TRUE;
}

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
