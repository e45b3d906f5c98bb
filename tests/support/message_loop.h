// Message loops for tests, written against the API alone so that they behave the same on any
// implementation of it: dispatch what is ready, or dispatch until a condition holds.
#pragma once

#include <chrono>
#include <thread>

#include "windows.h"

namespace portrix_test {

// Dispatches every message that is ready now, paints and due timers included.
inline int DispatchPending() {
    int dispatched = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // left for the caller's own loop
            break;
        }
        DispatchMessageA(&msg);
        ++dispatched;
    }
    return dispatched;
}

// Dispatches until done() holds (checked after each round) or the timeout passes; returns done().
template <typename Done>
bool DispatchUntil(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        DispatchPending();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace portrix_test
