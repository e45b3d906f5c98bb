// GDI test helpers: owning handles, a memory surface, pictures written as text (one letter a
// colour) and a top-level window with children to draw on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "windows.h"

namespace portrix_test {

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectDeleter {
    void operator()(void* object) const { DeleteObject(object); }
};
struct WindowDeleter {
    void operator()(HWND hwnd) const { DestroyWindow(hwnd); }
};
using OwnedDC = std::unique_ptr<HDC__, DcDeleter>;
using OwnedBitmap = std::unique_ptr<HBITMAP__, ObjectDeleter>;
using OwnedBrush = std::unique_ptr<HBRUSH__, ObjectDeleter>;
using OwnedWindow = std::unique_ptr<HWND__, WindowDeleter>;

// A bitmap in the screen's format. One made compatible with a fresh memory DC would be
// monochrome on the original, like the DC's stock bitmap.
inline HBITMAP ScreenBitmap(int width, int height) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

// A memory DC with its own bitmap, put back the way the product releases its surfaces.
class Surface {
public:
    Surface(int width, int height)
        : dc_(CreateCompatibleDC(nullptr)), bitmap_(ScreenBitmap(width, height)) {
        old_ = SelectObject(dc_.get(), bitmap_.get());
    }
    ~Surface() { SelectObject(dc_.get(), old_); }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    HDC dc() const { return dc_.get(); }

private:
    OwnedDC dc_;
    OwnedBitmap bitmap_;
    HGDIOBJ old_ = nullptr;
};

// Pictures as text, one character per pixel: each letter a distinct colour, '.' the colour a
// destination starts with, '?' any other colour; rows separated by '|'.
inline COLORREF ColorOf(char c) {
    return c == '.' ? RGB(1, 2, 3) : RGB(10 * (c - 'a' + 1), 255 - (c - 'a'), 100 + (c - 'a'));
}

inline void Paint(HDC dc, const std::string& picture) {
    int x = 0, y = 0;
    for (char c : picture) {
        if (c == '|') {
            x = 0, ++y;
        } else {
            SetPixel(dc, x++, y, ColorOf(c));
        }
    }
}

inline std::string Read(HDC dc, int width, int height) {
    std::string picture;
    for (int y = 0; y < height; ++y) {
        if (y) picture += '|';
        for (int x = 0; x < width; ++x) {
            COLORREF color = GetPixel(dc, x, y);
            char c = color == ColorOf('.') ? '.' : '?';
            for (char l = 'a'; l <= 'z'; ++l) c = ColorOf(l) == color ? l : c;
            picture += c;
        }
    }
    return picture;
}

inline uint32_t PixelOf(COLORREF c) {
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

inline constexpr int kTopWidth = 40, kTopHeight = 30;
inline const COLORREF kMarker = RGB(9, 8, 7);
inline const COLORREF kInk = RGB(200, 30, 60);

inline OwnedWindow MakeTop() {
    return OwnedWindow(CreateWindowExA(0, "#32770", "top", WS_POPUP | WS_VISIBLE, 100, 100,
                                       kTopWidth, kTopHeight, nullptr, nullptr, nullptr, nullptr));
}

inline OwnedWindow MakeChild(HWND parent, int x, int y, int cx, int cy,
                             DWORD visible = WS_VISIBLE) {
    return OwnedWindow(CreateWindowExA(0, "STATIC", "", WS_CHILD | visible, x, y, cx, cy, parent,
                                       nullptr, nullptr, nullptr));
}

inline void Fill(HDC dc, RECT rect, COLORREF color) {
    OwnedBrush brush(CreateSolidBrush(color));
    FillRect(dc, &rect, brush.get());
}

// Covers the whole top-level window with the marker colour through its own DC.
inline void Clear(HWND top) {
    HDC dc = GetDC(top);
    Fill(dc, RECT{0, 0, kTopWidth, kTopHeight}, kMarker);
    ReleaseDC(top, dc);
}

struct Captured {
    std::vector<uint32_t> pixels;  // 0xRRGGBB, row-major
    int width = 0, height = 0;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

}  // namespace portrix_test
