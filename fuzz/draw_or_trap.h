// Draws a picture that loaded into a small memory surface kept for the whole run. The loader
// only checks a GIF and decodes its pixels at the first draw, so a picture that loaded and then
// fails to draw is a fault: the fuzzer stops on it.
#pragma once

#include "ole2.h"
#include "olectl.h"
#include "windows.h"

inline void DrawOrTrap(IPicture* picture) {
    constexpr int kSurfaceSide = 16;
    static HDC surface = [] {
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        SelectObject(memory, CreateCompatibleBitmap(screen, kSurfaceSide, kSurfaceSide));
        ReleaseDC(nullptr, screen);
        return memory;
    }();
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    if (FAILED(picture->Render(surface, 0, 0, kSurfaceSide, kSurfaceSide, 0, height, width, -height,
                               nullptr)))
        __builtin_trap();
}
