// An X11 window that shows the dialog's framebuffer and hands back the mouse.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Artwork.h"

namespace demo {

struct PointerEvent {
    enum Kind { Move, Press, Release } kind;
    int button;  // 1 left, 3 right; 0 for a move
    int x;
    int y;
    bool doubleClick;  // a press soon after a press of the same button at about the same place
};

class LiveWindow {
public:
    // Null when there is no display, or when the demo was built without X11.
    static std::unique_ptr<LiveWindow> Open(int width, int height, const std::string& title);
    virtual ~LiveWindow() = default;

    virtual unsigned long id() const = 0;
    // Puts width * height pixels on the window.
    virtual void Show(const Pixels& pixels) = 0;
    // Handles pending X events, calling `pointer` for the mouse; false once the window was closed.
    virtual bool HandleEvents(const std::function<void(const PointerEvent&)>& pointer) = 0;
};

}  // namespace demo
