// A window class for USER tests that records every message it receives, paints and erases
// included, and a window owned for the length of a scope.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message_loop.h"
#include "windows.h"
#ifdef _WIN32
#include <commctrl.h>  // WC_STATIC, which the layer keeps in winuser.h
#endif

namespace portrix_test {

struct Event {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct PaintRecord {
    HWND hwnd;
    RECT rcPaint;
    BOOL fErase;
};

inline thread_local std::vector<Event> t_events;
inline thread_local std::vector<PaintRecord> t_paints;
inline thread_local int t_erases = 0;

inline LRESULT CALLBACK RecorderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    t_events.push_back({hwnd, message, wParam, lParam});
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            t_paints.push_back({hwnd, ps.rcPaint, ps.fErase});
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            ++t_erases;
            return 1;
        case WM_USER + 7:
            return static_cast<LRESULT>(wParam + static_cast<WPARAM>(lParam));
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

inline const char* RecorderClass() {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecorderProc;
        wc.lpszClassName = "UserTestRecorder";
        return RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    return "UserTestRecorder";
}

// Owns one window and destroys it at the end of the scope.
class Window {
public:
    Window(const char* cls, DWORD style, RECT r, HWND parent = nullptr, int id = 0)
        : hwnd_(CreateWindowExA(
              0, cls, "", style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr)) {}
    ~Window() {
        if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND get() const { return hwnd_; }
    operator HWND() const { return hwnd_; }  // NOLINT

private:
    HWND hwnd_;
};

inline Window Recorder(RECT r, DWORD style = WS_VISIBLE, HWND parent = nullptr) {
    return Window(RecorderClass(), (parent ? WS_CHILD : WS_POPUP) | style, r, parent);
}

inline void ResetRecords() {
    t_events.clear();
    t_paints.clear();
    t_erases = 0;
}

// Handles everything ready now, including the paints of freshly shown windows.
inline void Settle() {
    DispatchPending();
    ResetRecords();
}

inline std::string Describe(const RECT& r) {
    return "{" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "}";
}

}  // namespace portrix_test
