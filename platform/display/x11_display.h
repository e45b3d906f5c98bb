// The X11 back end: one xcb connection for the process, a real window per shown top-level
// window, and one thread that reads the server's events and sends what the windows became.
//
// xcb rather than Xlib: its requests and replies are safe from any thread without set-up
// (Xlib needs XInitThreads before anything else, which a library loaded into a host cannot
// promise).
//
// No window call waits for the server. A server that stops reading (stopped, or a forwarded
// display over a stalled link) fills the socket, and then every write to it waits, xcb's own
// included. So the threads that own windows only note what changed and wake the event thread,
// which sends it; the event thread may wait on the socket, and what is drawn meanwhile is
// coalesced into one area per window. The one exception is the common case of a frame drawn
// while the socket has room for it: the drawing thread sends it itself, sparing two thread
// switches per frame, when no other thread is sending and the socket's free space exceeds the
// request.
//
// Pixels: the framebuffers hold 0x00RRGGBB words, which is the ZPixmap layout of a 24-bit
// TrueColor visual with 32 bits per pixel on a little-endian server, so they are sent as they
// are. Other TrueColor screens (16-bit 5-6-5, 30-bit 10-10-10) get them converted, one pass
// over the pixels sent; any other screen is treated as no display.
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
    // The screen's TrueColor pixels: where each channel lies and how wide it is. The
    // framebuffers' words go out as they are when native, and are converted otherwise.
    struct PixelFormat {
        uint8_t depth = 24;
        uint8_t bytesPerPixel = 4;
        uint8_t padBytes = 4;           // each row of an image is a multiple of this
        uint8_t shift[3] = {16, 8, 0};  // red, green, blue
        uint8_t bits[3] = {8, 8, 8};
        bool native = true;
        // A 0x00RRGGBB colour as the screen's pixel.
        uint32_t Convert(uint32_t rgb) const;
    };

    // The process's connection, made on the first call; null when there is no display.
    static X11Display* Get();
    // Get() when a connection was made already and not lost, null otherwise; never connects.
    static X11Display* IfConnected();
    // Null while connected; otherwise why not, in one sentence. Connects on the first call.
    static const char* Problem();

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
        xcb_window_t id = 0;   // chosen when first shown, created on the server by the event thread
        bool changed = false;  // the layer's window changed since it was last sent
        bool shown = false;    // the layer's window is visible
        // As last sent to the server.
        bool created = false;
        bool mapped = false;
        RECT rect{};  // or where the window manager put it
        std::string title;
        RECT dirty{};            // top-level client coordinates; empty when nothing waits
        bool minimized = false;  // the window manager's WM_STATE is Iconic
    };
    struct PressRecord {  // for the double-click rule
        HWND hwnd = nullptr;
        uint8_t button = 0;
        uint32_t time = 0;
        POINT point{};
    };

    // The connection, or null with the reason kept for Problem().
    static X11Display* Connect();
    X11Display(xcb_connection_t* connection, xcb_screen_t* screen, const PixelFormat& format,
               const std::string& server);
    bool Start();
    // The event thread found the connection broken (the server went away or closed it).
    void Lose();
    void Run();
    void Wake();
    // Event thread: sends the windows' changes, then what was drawn.
    void SendChanges();
    void SendAndFlush();
    void SendWindow(HWND hwnd, xcb_window_t id);
    void Present();
    // Under sendLock_.
    void SendPixels(HWND top, xcb_window_t id, SIZE size, const RECT& area);
    void SendTitle(xcb_window_t id, const std::string& title);
    void SendSizeHints(xcb_window_t id, const RECT& rect, bool placedByHost);
    // Whether the socket takes a request of this many bytes without waiting.
    bool SocketTakes(size_t bytes) const;
    void MarkDirtyAndWake(HWND top, const RECT& area);
    xcb_atom_t Atom(const char* name);
    HWND WindowOf(xcb_window_t id);

    // Events, in x11_input.cpp.
    void HandleEvent(const xcb_generic_event_t* event);
    void HandleButton(const xcb_button_press_event_t* event, bool press);
    void HandleMotion(const xcb_motion_notify_event_t* event);
    void HandleKey(const xcb_key_press_event_t* event, bool press);
    // The window manager moved, minimised or restored the real window: the layer follows.
    void FollowPosition(xcb_window_t id);
    void FollowState(xcb_window_t id);
    void PostMouse(HWND top, int x, int y, UINT message, WPARAM keys, bool mayDoubleClick,
                   uint8_t button, uint32_t time);
    uint32_t KeysymOf(uint8_t keycode, int column) const;

    xcb_connection_t* const connection_;
    xcb_screen_t* const screen_;
    const PixelFormat format_;
    const std::string lostProblem_;
    xcb_gcontext_t gc_ = 0;
    xcb_atom_t wmProtocols_ = 0;
    xcb_atom_t wmDeleteWindow_ = 0;
    xcb_atom_t netWmName_ = 0;
    xcb_atom_t utf8String_ = 0;
    xcb_atom_t wmState_ = 0;
    xcb_atom_t motifWmHints_ = 0;
    xcb_atom_t netWmPid_ = 0;
    std::string hostName_;
    uint32_t maxRequestBytes_ = 0;
    // Keyboard mapping: keysymsPerKeycode_ columns for each keycode from minKeycode_.
    uint8_t minKeycode_ = 0;
    int keysymsPerKeycode_ = 0;
    std::vector<uint32_t> keysyms_;
    int wakeFd_ = -1;
    int socketFd_ = -1;
    size_t socketCapacity_ = 0;  // the socket's send buffer; 0: every frame goes the slow way

    // Held by whoever writes to the connection, around a copy from a framebuffer and its
    // sending too, so that pixels copied later are never sent before pixels copied earlier.
    // Only the event thread waits for it; other threads try it and leave the work when busy.
    std::mutex sendLock_;
    std::vector<uint32_t> sendBuffer_;  // under sendLock_
    std::vector<uint8_t> sendBytes_;    // under sendLock_: converted pixels
    std::mutex lock_;  // a leaf around the maps, never held while calling out or sending
    std::unordered_map<HWND, RealWindow> windows_;
    std::unordered_map<xcb_window_t, HWND> byId_;
    std::vector<xcb_window_t> doomed_;  // destroyed by the layer, not yet on the server
    std::atomic<bool> wakePending_{false};
    std::condition_variable flushed_;
    uint64_t flushRequested_ = 0;  // under lock_
    uint64_t flushDone_ = 0;       // under lock_

    PressRecord lastPress_;  // event thread only
};

}  // namespace platform_display
