// The layer's extensions that the demo calls, on Windows (portrixmfc.dll carries only those the
// control needs): reading back what a window shows, saving pixels as PNG, and pumping messages.
#include <windows.h>
// After windows.h, which it needs.
#include <gdiplus.h>

#include <mutex>

#include "platform/capture.h"
#include "platform/pump.h"

namespace platform {

// The client area as the window's surface holds it, children included: a BitBlt from the
// window's DC into a top-down 32-bit DIB section.
bool CaptureWindow(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height) {
    RECT client;
    if (!IsWindow(hwnd) || !GetClientRect(hwnd, &client)) return false;
    const int w = client.right, h = client.bottom;
    if (w <= 0 || h <= 0) return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC window = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(window);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = window != nullptr && memory != nullptr && dib != nullptr;
    if (ok) {
        HGDIOBJ previous = SelectObject(memory, dib);
        ok = BitBlt(memory, 0, 0, w, h, window, 0, 0, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, previous);
    }
    if (ok) {
        const uint32_t* from = static_cast<const uint32_t*>(bits);
        pixels->assign(from, from + static_cast<size_t>(w) * h);
        for (uint32_t& pixel : *pixels) pixel &= 0x00FFFFFF;
        *width = w;
        *height = h;
    }
    if (dib != nullptr) DeleteObject(dib);
    if (memory != nullptr) DeleteDC(memory);
    if (window != nullptr) ReleaseDC(hwnd, window);
    return ok;
}

// Through GDI+'s PNG encoder, the system's own.
bool SavePixelsPng(const std::vector<uint32_t>& pixels, int width, int height,
                   const std::string& path) {
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height)
        return false;
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        GdiplusStartupInput input;
        ULONG_PTR token = 0;
        started = GdiplusStartup(&token, &input, nullptr) == Ok;  // for the process's life
    });
    if (!started) return false;
    const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    if (length <= 0 || MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length) <= 0)
        return false;
    // 0x00RRGGBB in memory is what PixelFormat32bppRGB reads (blue first, the fourth byte
    // ignored).
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppRGB,
                                  reinterpret_cast<BYTE*>(const_cast<uint32_t*>(pixels.data())),
                                  &bitmap) != Ok)
        return false;
    static const CLSID kPngEncoder = {
        0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    const bool ok = GdipSaveImageToFile(bitmap, wide.c_str(), &kPngEncoder, nullptr) == Ok;
    GdipDisposeImage(bitmap);
    return ok;
}

namespace {

// One message, if one is ready; false when none is. A WM_QUIT is posted again for the host's
// own loop and ends the pumping (*quit).
bool DispatchOne(bool* quit) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
    if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        *quit = true;
        return false;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

}  // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool quit = false;
    while (!done() && !quit) {
        // The time is looked at after every message too: a queue that is never empty (timers,
        // paints) must not hold the caller past its timeout.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (DispatchOne(&quit) || quit) continue;
        // Sleeps on the queue, waking at least every 10 ms to look at done().
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(left.count() < 10 ? left.count() : 10),
                                  QS_ALLINPUT);
    }
    return done();
}

int PumpPendingMessages() {
    bool quit = false;
    int dispatched = 0;
    while (DispatchOne(&quit)) ++dispatched;
    return dispatched;
}

}  // namespace platform
