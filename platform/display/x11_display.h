// The X11 back end: one xcb connection for the process, a real window per shown top-level
// window, and one thread that reads the server's events and puts drawn pixels on the screen.
//
// xcb rather than Xlib: its requests and replies are safe from any thread without set-up
// (Xlib needs XInitThreads before anything else, which a library loaded into a host cannot
// promise), and it blocks a caller only when the caller waits for a reply. The layer's
// windows are shown, moved and destroyed from whichever thread owns them, while the event
// thread draws; each sends its own requests.
//
// Pixels: the framebuffers hold 0x00RRGGBB words, which is the ZPixmap layout of a 24-bit
// TrueColor visual with 32 bits per pixel on a little-endian server, so they are sent as they
// are. A server without that layout is treated as no display.
#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "windef.h"

namespace platform_display {

class X11Display {
public:
    // The process's connection, made on the first call; null when there is no display.
    static X11Display* Get();
    // Get() when a connection was made already, null otherwise; never connects.
    static X11Display* IfConnected();

    // Makes the real window of hwnd match the layer's top-level window (created on first show).
    void SyncWindow(HWND hwnd);
    void DestroyWindow(HWND top);
    // Puts the area of hwnd's top-level window that hwnd shows on the screen.
    void MarkDrawn(HWND hwnd);
    xcb_window_t WindowId(HWND top);
    // Returns once everything marked so far is on the server.
    void Flush();

private:
    struct RealWindow {
        xcb_window_t id = 0;
        bool mapped = false;
        RECT rect{};
        std::string title;
        RECT dirty{};  // top-level client coordinates; empty when nothing waits
    };
    struct PressRecord {  // for the double-click rule
        HWND hwnd = nullptr;
        uint8_t button = 0;
        uint32_t time = 0;
        POINT point{};
    };

    X11Display(xcb_connection_t* connection, xcb_screen_t* screen);
    bool Start();
    void Run();
    void Wake();
    void Present();
    void PresentWindow(HWND top, xcb_window_t id, SIZE size, const RECT& area);
    void SetTitleLocked(const RealWindow& window);
    void SetSizeHintsLocked(const RealWindow& window);
    xcb_atom_t Atom(const char* name);
    HWND WindowOf(xcb_window_t id);

    // Events, in x11_input.cpp.
    void HandleEvent(const xcb_generic_event_t* event);
    void HandleButton(const xcb_button_press_event_t* event, bool press);
    void HandleMotion(const xcb_motion_notify_event_t* event);
    void HandleKey(const xcb_key_press_event_t* event, bool press);
    void PostMouse(HWND top, int x, int y, UINT message, WPARAM keys, bool mayDoubleClick,
                   uint8_t button, uint32_t time);
    uint32_t KeysymOf(uint8_t keycode, int column) const;

    xcb_connection_t* const connection_;
    xcb_screen_t* const screen_;
    xcb_gcontext_t gc_ = 0;
    xcb_atom_t wmProtocols_ = 0;
    xcb_atom_t wmDeleteWindow_ = 0;
    xcb_atom_t netWmName_ = 0;
    xcb_atom_t utf8String_ = 0;
    uint32_t maxRequestBytes_ = 0;
    // Keyboard mapping: keysymsPerKeycode_ columns for each keycode from minKeycode_.
    uint8_t minKeycode_ = 0;
    int keysymsPerKeycode_ = 0;
    std::vector<uint32_t> keysyms_;
    int wakeFd_ = -1;

    std::mutex presentLock_;  // held around one copy from the framebuffer and its sending
    std::vector<uint32_t> presentBuffer_;  // under presentLock_
    std::mutex lock_;  // a leaf: held around xcb requests and the maps, never while calling out
    std::unordered_map<HWND, RealWindow> windows_;
    std::unordered_map<xcb_window_t, HWND> byId_;
    std::atomic<bool> wakePending_{false};
    std::condition_variable flushed_;
    uint64_t flushRequested_ = 0;  // under lock_
    uint64_t flushDone_ = 0;       // under lock_

    PressRecord lastPress_;  // event thread only
};

}  // namespace platform_display
