#include "LiveWindow.h"

#ifdef PORTRIX_DEMO_X11
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#endif

namespace demo {

#ifdef PORTRIX_DEMO_X11
namespace {

constexpr auto kDoubleClickTime = std::chrono::milliseconds(400);
constexpr int kDoubleClickDistance = 4;

// A window closed under us must not end the process through Xlib's default error handler.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

class XLiveWindow : public LiveWindow {
public:
    XLiveWindow(Display* display, int width, int height, const std::string& title)
        : display_(display), width_(width), height_(height) {
        const int screen = DefaultScreen(display_);
        window_ =
            XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, width, height, 0,
                                BlackPixel(display_, screen), BlackPixel(display_, screen));
        XStoreName(display_, window_, title.c_str());
        XSizeHints hints = {};
        hints.flags = PMinSize | PMaxSize;
        hints.min_width = hints.max_width = width;
        hints.min_height = hints.max_height = height;
        XSetWMNormalHints(display_, window_, &hints);
        deleteWindow_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display_, window_, &deleteWindow_, 1);
        XSelectInput(display_, window_,
                     ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                         StructureNotifyMask);
        gc_ = XCreateGC(display_, window_, 0, nullptr);
        XMapWindow(display_, window_);
        XFlush(display_);
    }
    ~XLiveWindow() override {
        if (!closed_) {
            XFreeGC(display_, gc_);
            XDestroyWindow(display_, window_);
        }
        XCloseDisplay(display_);
    }

    unsigned long id() const override { return window_; }

    void Show(const Pixels& pixels) override {
        if (closed_ || pixels.size() != static_cast<size_t>(width_ * height_)) return;
        Visual* visual = DefaultVisual(display_, DefaultScreen(display_));
        // 24- and 32-bit TrueColor servers take 0x00RRGGBB words as they are.
        XImage* image = XCreateImage(
            display_, visual, static_cast<unsigned>(DefaultDepth(display_, 0)), ZPixmap, 0, nullptr,
            static_cast<unsigned>(width_), static_cast<unsigned>(height_), 32, 0);
        if (image == nullptr) return;
        image->data =
            static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * height_));
        if (image->data != nullptr) {
            for (int y = 0; y < height_; ++y)
                for (int x = 0; x < width_; ++x)
                    XPutPixel(image, x, y, pixels[static_cast<size_t>(y * width_ + x)]);
            XPutImage(display_, window_, gc_, image, 0, 0, 0, 0, static_cast<unsigned>(width_),
                      static_cast<unsigned>(height_));
            XFlush(display_);
        }
        XDestroyImage(image);  // frees data too
    }

    bool HandleEvents(const std::function<void(const PointerEvent&)>& pointer) override {
        while (!closed_ && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            switch (event.type) {
                case ClientMessage:
                    if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_) Close();
                    break;
                case DestroyNotify:
                    closed_ = true;
                    break;
                case MotionNotify:
                    pointer({PointerEvent::Move, 0, event.xmotion.x, event.xmotion.y, false});
                    break;
                case ButtonPress:
                case ButtonRelease: {
                    const int button = static_cast<int>(event.xbutton.button);
                    if (button != 1 && button != 3) break;
                    PointerEvent pe{
                        event.type == ButtonPress ? PointerEvent::Press : PointerEvent::Release,
                        button, event.xbutton.x, event.xbutton.y, false};
                    if (pe.kind == PointerEvent::Press) {
                        const auto now = std::chrono::steady_clock::now();
                        pe.doubleClick = button == lastButton_ &&
                                         now - lastPress_ <= kDoubleClickTime &&
                                         std::abs(pe.x - lastX_) <= kDoubleClickDistance &&
                                         std::abs(pe.y - lastY_) <= kDoubleClickDistance;
                        // A third press starts a new pair.
                        lastButton_ = pe.doubleClick ? 0 : button;
                        lastPress_ = now;
                        lastX_ = pe.x;
                        lastY_ = pe.y;
                    }
                    pointer(pe);
                    break;
                }
                default:
                    break;
            }
        }
        return !closed_;
    }

private:
    void Close() {
        XFreeGC(display_, gc_);
        XDestroyWindow(display_, window_);
        XFlush(display_);
        closed_ = true;
    }

    Display* display_;
    Window window_ = 0;
    GC gc_ = nullptr;
    Atom deleteWindow_ = 0;
    int width_;
    int height_;
    bool closed_ = false;
    int lastButton_ = 0;
    int lastX_ = 0;
    int lastY_ = 0;
    std::chrono::steady_clock::time_point lastPress_;
};

}  // namespace

std::unique_ptr<LiveWindow> LiveWindow::Open(int width, int height, const std::string& title) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    XSetErrorHandler(IgnoreXError);
    const int depth = DefaultDepth(display, DefaultScreen(display));
    if (depth != 24 && depth != 32) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<XLiveWindow>(display, width, height, title);
}
#else
std::unique_ptr<LiveWindow> LiveWindow::Open(int, int, const std::string&) {
    return nullptr;
}
#endif

}  // namespace demo
