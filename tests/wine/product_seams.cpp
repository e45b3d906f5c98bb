// The layer's test-facing extensions, over the system's own calls, for the control's tests
// built for Windows.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/input.h"
#include "platform/picture_cache.h"
#include "platform/pump.h"

namespace platform {

int PumpPendingMessages() {
    int handled = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        ++handled;
    }
    return handled;
}

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        PumpPendingMessages();
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        // Until a message comes (a timer, a paint, the playback thread's invalidation).
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<int64_t>(left.count(), 10)),
                                  QS_ALLINPUT);
    }
}

// The window as it shows on the screen, with what lies on it, as 0x00RRGGBB pixels.
bool CaptureWindow(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height) {
    RECT client;
    if (!IsWindow(hwnd) || !GetClientRect(hwnd, &client)) return false;
    const int w = client.right;
    const int h = client.bottom;
    if (w <= 0 || h <= 0) return false;
    HDC windowDC = GetDC(hwnd);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(windowDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const bool ok = bitmap != nullptr && bits != nullptr;
    if (ok) {
        HGDIOBJ displaced = SelectObject(memoryDC, bitmap);
        BitBlt(memoryDC, 0, 0, w, h, windowDC, 0, 0, SRCCOPY);
        GdiFlush();
        const auto* p = static_cast<const uint32_t*>(bits);
        pixels->assign(p, p + static_cast<size_t>(w) * h);
        for (uint32_t& pixel : *pixels) pixel &= 0x00FFFFFF;
        SelectObject(memoryDC, displaced);
        *width = w;
        *height = h;
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memoryDC);
    ReleaseDC(hwnd, windowDC);
    return ok;
}

// No PNG writer on this side: the pictures that failing tests leave behind are not written.
bool SaveWindowPng(HWND, const std::string&) {
    return false;
}
bool SavePixelsPng(const std::vector<uint32_t>&, int, int, const std::string&) {
    return false;
}
bool LoadPng(const std::string&, std::vector<uint32_t>*, int*, int*) {
    return false;
}

// Posted to the window the system finds under the point, in that window's client coordinates.
BOOL InjectMouse(POINT screenPoint, UINT message, WPARAM keyFlags) {
    const bool mouse =
        message == WM_MOUSEMOVE || (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK);
    HWND window = mouse ? WindowFromPoint(screenPoint) : nullptr;
    if (window == nullptr) return FALSE;
    POINT client = screenPoint;
    ScreenToClient(window, &client);
    return PostMessageA(window, message, keyFlags, MAKELPARAM(client.x, client.y));
}

// The system's picture objects share no decoded pixels that could be counted.
size_t DecodedPictureBytes() {
    return 0;
}

}  // namespace platform
