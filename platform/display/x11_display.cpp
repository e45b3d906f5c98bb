// The connection, the real windows, and the thread that shows what was drawn.
#include "display/x11_display.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "internal/display.h"
#include "internal/window_surface.h"
#include "windows.h"

namespace platform_display {
namespace {

constexpr char kDisableVariable[] = "PORTRIX_NO_DISPLAY";
constexpr uint32_t kNativeMasks[3] = {0xFF0000, 0xFF00, 0xFF};  // red, green, blue
constexpr int kChannelBits = 8;                                 // in the framebuffers' words
// Shown before the first frame arrives: the dialog face colour.
constexpr uint32_t kBackgroundPixel = 0xF0F0F0;
constexpr uint32_t kEventMask = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS |
                                XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
// ICCCM WM_SIZE_HINTS: 18 words, of which the flags, the position and the sizes are used.
constexpr int kSizeHintsWords = 18;
constexpr uint32_t kHintUserPosition = 1, kHintUserSize = 2, kHintMinSize = 16, kHintMaxSize = 32;
// Motif's _MOTIF_WM_HINTS, which window managers read for decorations: flags, functions,
// decorations, input mode, status.
constexpr int kMotifHintsWords = 5;
constexpr uint32_t kMotifHintDecorations = 2;
constexpr uint32_t kMotifDecorateBorder = 2;
constexpr uint32_t kPutImageHeaderBytes = 24;
// What a write costs the socket beyond its bytes (the kernel's buffer heads), as a fraction of
// the bytes and a fixed margin: a drawing thread sends only when the socket's free space
// exceeds the request with both.
constexpr size_t kSocketOverheadDivisor = 8;
constexpr size_t kSocketSlackBytes = 8192;
constexpr char kWindowClass[] = "portrix\0Portrix";  // instance and class, each ending in NUL

std::atomic<X11Display*> g_connected{nullptr};
std::atomic<X11Display*> g_lost{nullptr};
// Why there is no connection; written once, before the first Get() returns.
std::string g_connectProblem;

bool DisabledByEnvironment() {
    const char* off = std::getenv(kDisableVariable);
    return off != nullptr && *off != '\0' && std::strcmp(off, "0") != 0;
}

const char* VisualClassName(uint8_t visualClass) {
    switch (visualClass) {
        case XCB_VISUAL_CLASS_STATIC_GRAY:
            return "StaticGray";
        case XCB_VISUAL_CLASS_GRAY_SCALE:
            return "GrayScale";
        case XCB_VISUAL_CLASS_STATIC_COLOR:
            return "StaticColor";
        case XCB_VISUAL_CLASS_PSEUDO_COLOR:
            return "PseudoColor";
        case XCB_VISUAL_CLASS_TRUE_COLOR:
            return "TrueColor";
        default:
            return "DirectColor";
    }
}

// Empty when the screen's default visual can show the framebuffers' pixels (TrueColor in 16-
// or 32-bit pixels, least significant byte first), with its layout in format; otherwise what
// the screen has instead, e.g. "8-bit PseudoColor".
std::string ScreenFormat(const xcb_setup_t* setup, const xcb_screen_t* screen,
                         X11Display::PixelFormat* format) {
    const xcb_visualtype_t* visual = nullptr;
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem;
         xcb_depth_next(&depth)) {
        for (auto it = xcb_depth_visuals_iterator(depth.data); it.rem; xcb_visualtype_next(&it))
            if (it.data->visual_id == screen->root_visual) visual = it.data;
    }
    uint8_t bitsPerPixel = 0, scanlinePad = 0;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth != screen->root_depth) continue;
        bitsPerPixel = it.data->bits_per_pixel;
        scanlinePad = it.data->scanline_pad;
    }
    const std::string has = std::to_string(screen->root_depth) + "-bit " +
                            (visual ? VisualClassName(visual->_class) : "unknown");
    if (visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) return has;
    if (bitsPerPixel != 16 && bitsPerPixel != 32)
        return has + " in " + std::to_string(bitsPerPixel) + "-bit pixels";
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return has + " in big-endian order";
    const uint32_t masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
    format->native = bitsPerPixel == 32;
    for (int c = 0; c < 3; ++c) {
        if (masks[c] == 0) return has + " without one of red, green and blue";
        const int shift = __builtin_ctz(masks[c]);
        const int bits = __builtin_popcount(masks[c]);
        if ((masks[c] >> shift) != (1u << bits) - 1 || bits > 2 * kChannelBits)
            return has + " with split colour masks";
        format->shift[c] = static_cast<uint8_t>(shift);
        format->bits[c] = static_cast<uint8_t>(bits);
        format->native = format->native && masks[c] == kNativeMasks[c];
    }
    format->depth = screen->root_depth;
    format->bytesPerPixel = static_cast<uint8_t>(bitsPerPixel / 8);
    format->padBytes = static_cast<uint8_t>(std::max(scanlinePad / 8, 1));
    return "";
}

std::string ConnectionFailure(int error) {
    switch (error) {
        case XCB_CONN_CLOSED_PARSE_ERR:
            return "cannot be parsed";
        case XCB_CONN_CLOSED_INVALID_SCREEN:
            return "names a screen the server does not have";
        case XCB_CONN_ERROR:
            return "cannot be reached";
        default:
            return "cannot be reached (refused with xcb error " + std::to_string(error) + ")";
    }
}

xcb_screen_t* ScreenNumber(const xcb_setup_t* setup, int number) {
    for (auto it = xcb_setup_roots_iterator(setup); it.rem; xcb_screen_next(&it), --number)
        if (number == 0) return it.data;
    return nullptr;
}

uint16_t Side(LONG extent) {
    return static_cast<uint16_t>(std::clamp<LONG>(extent, 1, UINT16_MAX));
}

}  // namespace

X11Display* X11Display::Connect() {
    if (DisabledByEnvironment()) {
        g_connectProblem = std::string(kDisableVariable) +
                           " is set, so windows are kept in memory and shown on no screen";
        return nullptr;
    }
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        g_connectProblem = "DISPLAY is not set, so there is no X server to show windows on";
        return nullptr;
    }
    const std::string named = std::string("the X server named by DISPLAY (") + name + ")";
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(name, &screenNumber);
    if (const int error = xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        g_connectProblem = named + " " + ConnectionFailure(error);
        return nullptr;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection);
    xcb_screen_t* screen = ScreenNumber(setup, screenNumber);
    PixelFormat format;
    const std::string mismatch = screen ? ScreenFormat(setup, screen, &format) : "no such screen";
    if (!mismatch.empty()) {
        xcb_disconnect(connection);
        g_connectProblem = named + " has a screen of " + mismatch +
                           ", and windows are shown only on TrueColor (24-bit, or 16 or 30)";
        return nullptr;
    }
    // Never destroyed: windows may be shown or destroyed during exit, and the event thread
    // runs for the life of the process.
    auto* made = new X11Display(connection, screen, format, named);
    if (!made->Start()) {
        delete made;
        xcb_disconnect(connection);
        g_connectProblem = named + " could not be used (no event descriptor or a failed request)";
        return nullptr;
    }
    g_connected.store(made);
    return made;
}

X11Display* X11Display::Get() {
    static X11Display* const connected = Connect();
    (void)connected;
    return IfConnected();
}

const char* X11Display::Problem() {
    if (Get() != nullptr) return nullptr;
    if (X11Display* lost = g_lost.load(std::memory_order_acquire))
        return lost->lostProblem_.c_str();
    return g_connectProblem.c_str();
}

X11Display* X11Display::IfConnected() {
    return g_connected.load(std::memory_order_acquire);
}

uint32_t X11Display::PixelFormat::Convert(uint32_t rgb) const {
    uint32_t pixel = 0;
    for (int c = 0; c < 3; ++c) {
        const uint32_t value = (rgb >> (2 - c) * kChannelBits) & 0xFF;
        const int extra = bits[c] - kChannelBits;  // widened by repeating the top bits
        const uint32_t scaled =
            extra <= 0 ? value >> -extra : (value << extra) | (value >> (kChannelBits - extra));
        pixel |= scaled << shift[c];
    }
    return pixel;
}

X11Display::X11Display(xcb_connection_t* connection, xcb_screen_t* screen,
                       const PixelFormat& format, const std::string& server)
    : connection_(connection),
      screen_(screen),
      format_(format),
      lostProblem_("the connection to " + server + " was lost") {}

xcb_atom_t X11Display::Atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

bool X11Display::Start() {
    wmProtocols_ = Atom("WM_PROTOCOLS");
    wmDeleteWindow_ = Atom("WM_DELETE_WINDOW");
    netWmName_ = Atom("_NET_WM_NAME");
    utf8String_ = Atom("UTF8_STRING");
    wmState_ = Atom("WM_STATE");
    motifWmHints_ = Atom("_MOTIF_WM_HINTS");
    netWmPid_ = Atom("_NET_WM_PID");
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) == 0) hostName_ = host;
    maxRequestBytes_ = xcb_get_maximum_request_length(connection_) * 4;

    const xcb_setup_t* setup = xcb_get_setup(connection_);
    minKeycode_ = setup->min_keycode;
    const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, minKeycode_, count), nullptr);
    if (mapping != nullptr) {
        keysymsPerKeycode_ = mapping->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        keysyms_.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(mapping));
        std::free(mapping);
    }

    gc_ = xcb_generate_id(connection_);
    const uint32_t noExposures = 0;
    xcb_create_gc(connection_, gc_, screen_->root, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    xcb_flush(connection_);

    socketFd_ = xcb_get_file_descriptor(connection_);
    // Read once: a local socket's send buffer keeps its size, and a TCP one only grows.
    int capacity = 0;
    socklen_t length = sizeof capacity;
    if (getsockopt(socketFd_, SOL_SOCKET, SO_SNDBUF, &capacity, &length) == 0 && capacity > 0)
        socketCapacity_ = static_cast<size_t>(capacity);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0 || xcb_connection_has_error(connection_)) return false;
    std::thread([this] { Run(); }).detach();
    return true;
}

void X11Display::Wake() {
    if (wakePending_.exchange(true)) return;
    const uint64_t one = 1;
    ssize_t written = write(wakeFd_, &one, sizeof one);
    (void)written;  // a full counter wakes the thread as well
}

HWND X11Display::WindowOf(xcb_window_t id) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
}

xcb_window_t X11Display::WindowId(HWND top) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = windows_.find(top);
    return it == windows_.end() ? 0 : it->second.id;
}

void X11Display::SendTitle(xcb_window_t id, const std::string& title) {
    const auto length = static_cast<uint32_t>(title.size());
    for (xcb_atom_t property : {static_cast<xcb_atom_t>(XCB_ATOM_WM_NAME), netWmName_}) {
        const xcb_atom_t type =
            property == netWmName_ ? utf8String_ : static_cast<xcb_atom_t>(XCB_ATOM_STRING);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, property, type, 8, length,
                            title.data());
    }
}

void X11Display::SendSizeHints(xcb_window_t id, const RECT& rect, bool placedByHost) {
    // The framebuffer has the size the host gave; the window manager must not change it. The
    // position is the host's unless it left it to the system (CW_USEDEFAULT): then the window
    // manager places the window.
    uint32_t hints[kSizeHintsWords] = {};
    const uint32_t width = Side(rect.right - rect.left);
    const uint32_t height = Side(rect.bottom - rect.top);
    hints[0] = (placedByHost ? kHintUserPosition : 0) | kHintUserSize | kHintMinSize | kHintMaxSize;
    hints[1] = static_cast<uint32_t>(rect.left);
    hints[2] = static_cast<uint32_t>(rect.top);
    hints[3] = hints[5] = hints[7] = width;
    hints[4] = hints[6] = hints[8] = height;
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, kSizeHintsWords, hints);
}

void X11Display::SyncWindow(HWND hwnd) {
    platform::internal::TopLevelState state;
    if (!platform::internal::QueryTopLevel(hwnd, &state)) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = windows_.find(hwnd);
        if (it == windows_.end()) {
            if (!state.visible) return;
            RealWindow made;
            made.id = xcb_generate_id(connection_);
            byId_[made.id] = hwnd;
            it = windows_.emplace(hwnd, std::move(made)).first;
        }
        it->second.changed = true;
        it->second.shown = state.visible;
        if (!state.visible) SetRectEmpty(&it->second.dirty);
    }
    Wake();
}

void X11Display::SendChanges() {
    std::vector<std::pair<HWND, xcb_window_t>> changed;
    std::vector<xcb_window_t> doomed;
    {
        std::lock_guard<std::mutex> lock(lock_);
        for (auto& [hwnd, window] : windows_) {
            if (!window.changed) continue;
            window.changed = false;
            changed.emplace_back(hwnd, window.id);
        }
        doomed.swap(doomed_);
    }
    // After the creations: a window destroyed meanwhile is destroyed after it was made.
    for (const auto& [hwnd, id] : changed) SendWindow(hwnd, id);
    if (doomed.empty()) return;
    std::lock_guard<std::mutex> sending(sendLock_);
    for (xcb_window_t id : doomed) xcb_destroy_window(connection_, id);
}

void X11Display::SendWindow(HWND hwnd, xcb_window_t id) {
    platform::internal::TopLevelState state;
    if (!platform::internal::QueryTopLevel(hwnd, &state)) return;
    std::lock_guard<std::mutex> sending(sendLock_);
    RealWindow before;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = windows_.find(hwnd);
        if (it == windows_.end() || it->second.id != id) return;  // destroyed meanwhile
        RealWindow& window = it->second;
        before = window;
        window.created = true;
        window.rect = state.rect;
        window.title = state.title;
        window.mapped = state.visible;
        // All of it, once the server has mapped it (Expose says the same).
        if (window.mapped && !before.mapped)
            window.dirty = {0, 0, state.rect.right - state.rect.left,
                            state.rect.bottom - state.rect.top};
    }
    const RECT& rect = state.rect;
    if (!before.created) {
        const uint32_t values[] = {format_.Convert(kBackgroundPixel), kEventMask};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id, screen_->root,
                          static_cast<int16_t>(rect.left), static_cast<int16_t>(rect.top),
                          Side(rect.right - rect.left), Side(rect.bottom - rect.top), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, wmProtocols_, XCB_ATOM_ATOM, 32,
                            1, &wmDeleteWindow_);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, sizeof kWindowClass, kWindowClass);
        SendTitle(id, state.title);
        SendSizeHints(id, rect, state.placedByHost);
        // Who owns the window, so that a window manager can end a host that stopped answering.
        const uint32_t pid = static_cast<uint32_t>(getpid());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, netWmPid_, XCB_ATOM_CARDINAL,
                            32, 1, &pid);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLIENT_MACHINE,
                            XCB_ATOM_STRING, 8, static_cast<uint32_t>(hostName_.size()),
                            hostName_.data());
        // A pop-up without a caption has no title bar, as on Windows: a thin border at most.
        if ((state.style & WS_POPUP) && (state.style & WS_CAPTION) != WS_CAPTION) {
            const uint32_t motif[kMotifHintsWords] = {
                kMotifHintDecorations, 0, (state.style & WS_BORDER) ? kMotifDecorateBorder : 0, 0,
                0};
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, motifWmHints_,
                                motifWmHints_, 32, kMotifHintsWords, motif);
        }
    } else {
        if (!EqualRect(&before.rect, &rect)) {
            SendSizeHints(id, rect, true);
            const uint32_t values[] = {static_cast<uint32_t>(rect.left),
                                       static_cast<uint32_t>(rect.top),
                                       Side(rect.right - rect.left), Side(rect.bottom - rect.top)};
            xcb_configure_window(connection_, id,
                                 XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y |
                                     XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                 values);
        }
        if (before.title != state.title) SendTitle(id, state.title);
    }
    if (state.visible && !before.mapped) xcb_map_window(connection_, id);
    if (!state.visible && before.mapped) xcb_unmap_window(connection_, id);
}

void X11Display::FollowPosition(xcb_window_t id) {
    // Where the window is on the root window, whatever frame the window manager put around it.
    xcb_translate_coordinates_cookie_t cookie;
    {
        std::lock_guard<std::mutex> sending(sendLock_);
        cookie = xcb_translate_coordinates(connection_, id, screen_->root, 0, 0);
        xcb_flush(connection_);
    }
    xcb_translate_coordinates_reply_t* reply =
        xcb_translate_coordinates_reply(connection_, cookie, nullptr);
    if (reply == nullptr) return;
    const POINT origin{reply->dst_x, reply->dst_y};
    std::free(reply);
    HWND top = nullptr;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = byId_.find(id);
        if (it == byId_.end()) return;
        top = it->second;
        RECT& rect = windows_[top].rect;
        if (rect.left == origin.x && rect.top == origin.y) return;
        OffsetRect(&rect, origin.x - rect.left, origin.y - rect.top);
    }
    platform::internal::MovedByWindowManager(top, origin);
}

void X11Display::FollowState(xcb_window_t id) {
    constexpr uint32_t kNormalState = 1, kIconicState = 3;  // ICCCM WM_STATE
    xcb_get_property_cookie_t cookie;
    {
        std::lock_guard<std::mutex> sending(sendLock_);
        cookie = xcb_get_property(connection_, 0, id, wmState_, wmState_, 0, 1);
        xcb_flush(connection_);
    }
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    if (reply == nullptr) return;
    uint32_t state = 0;
    if (reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        std::memcpy(&state, xcb_get_property_value(reply), sizeof state);
    std::free(reply);
    if (state != kNormalState && state != kIconicState) return;  // withdrawn: hidden by the host
    const bool minimized = state == kIconicState;
    HWND top = nullptr;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = byId_.find(id);
        if (it == byId_.end()) return;
        top = it->second;
        RealWindow& window = windows_[top];
        if (window.minimized == minimized) return;
        window.minimized = minimized;
    }
    platform::internal::MinimizedByWindowManager(top, minimized);
}

void X11Display::DestroyWindow(HWND top) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = windows_.find(top);
        if (it == windows_.end()) return;
        if (it->second.created) doomed_.push_back(it->second.id);
        byId_.erase(it->second.id);
        windows_.erase(it);
    }
    Wake();
}

bool X11Display::SocketTakes(size_t bytes) const {
    int queued = 0;
    if (ioctl(socketFd_, TIOCOUTQ, &queued) != 0) return false;
    return static_cast<size_t>(queued) + bytes + bytes / kSocketOverheadDivisor +
               kSocketSlackBytes <=
           socketCapacity_;
}

void X11Display::MarkDirtyAndWake(HWND top, const RECT& area) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = windows_.find(top);
        if (it == windows_.end() || !it->second.shown) return;
        UnionRect(&it->second.dirty, &it->second.dirty, &area);
    }
    Wake();
}

void X11Display::MarkDrawn(HWND hwnd) {
    platform::internal::WindowPlacement placement;
    if (!platform::internal::QueryWindowPlacement(hwnd, &placement) ||
        IsRectEmpty(&placement.visibleInTop))
        return;
    const RECT& area = placement.visibleInTop;
    std::unique_lock<std::mutex> sending(sendLock_, std::try_to_lock);
    const size_t bytes = static_cast<size_t>(area.right - area.left) *
                         static_cast<size_t>(area.bottom - area.top) * sizeof(uint32_t);
    if (!sending.owns_lock() || !SocketTakes(bytes)) {
        if (sending.owns_lock()) sending.unlock();
        MarkDirtyAndWake(placement.top, area);
        return;
    }
    xcb_window_t id = 0;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = windows_.find(placement.top);
        if (it == windows_.end() || !it->second.mapped) return;  // mapping sends all of it
        id = it->second.id;
    }
    SendPixels(placement.top, id, placement.topClientSize, area);
    xcb_flush(connection_);
}

void X11Display::Flush() {
    std::unique_lock<std::mutex> lock(lock_);
    const uint64_t ticket = ++flushRequested_;
    lock.unlock();
    wakePending_.store(false);  // this wake must not be swallowed by an earlier one
    Wake();
    lock.lock();
    flushed_.wait(lock, [&] { return flushDone_ >= ticket; });
}

void X11Display::Present() {
    struct Work {
        HWND top;
        xcb_window_t id;
        RECT area;
    };
    std::vector<Work> work;
    {
        std::lock_guard<std::mutex> lock(lock_);
        for (auto& [hwnd, window] : windows_) {
            if (IsRectEmpty(&window.dirty)) continue;
            if (window.mapped) work.push_back({hwnd, window.id, window.dirty});
            SetRectEmpty(&window.dirty);
        }
    }
    for (const Work& item : work) {
        platform::internal::WindowPlacement placement;
        if (!platform::internal::QueryWindowPlacement(item.top, &placement)) continue;
        RECT shown;
        if (!IntersectRect(&shown, &item.area, &placement.visibleInTop)) continue;
        std::lock_guard<std::mutex> sending(sendLock_);
        SendPixels(item.top, item.id, placement.topClientSize, shown);
    }
}

void X11Display::SendPixels(HWND top, xcb_window_t id, SIZE size, const RECT& area) {
    std::vector<uint32_t>& pixels = sendBuffer_;
    RECT copied{};
    platform::internal::CopyFramebuffer(top, size, area, &pixels, &copied);
    if (IsRectEmpty(&copied)) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        auto it = windows_.find(top);
        if (it == windows_.end() || it->second.id != id || !it->second.mapped) return;
    }
    const int width = copied.right - copied.left;
    uint32_t rowBytes = static_cast<uint32_t>(width) * sizeof(uint32_t);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pixels.data());
    if (!format_.native) {
        // Converted into the screen's pixels, each row padded as the server expects.
        const uint32_t pad = format_.padBytes;
        rowBytes = (static_cast<uint32_t>(width) * format_.bytesPerPixel + pad - 1) / pad * pad;
        sendBytes_.assign(static_cast<size_t>(rowBytes) * (copied.bottom - copied.top), 0);
        for (size_t row = 0, i = 0; row < static_cast<size_t>(copied.bottom - copied.top); ++row) {
            uint8_t* out = &sendBytes_[row * rowBytes];
            for (int x = 0; x < width; ++x, ++i) {
                const uint32_t pixel = format_.Convert(pixels[i]);
                for (int b = 0; b < format_.bytesPerPixel; ++b)
                    *out++ = static_cast<uint8_t>(pixel >> (8 * b));  // least significant first
            }
        }
        bytes = sendBytes_.data();
    }
    const int bandRows =
        std::max<int>(1, static_cast<int>((maxRequestBytes_ - kPutImageHeaderBytes) / rowBytes));
    for (LONG y = copied.top; y < copied.bottom; y += bandRows) {
        const int rows = std::min<int>(bandRows, copied.bottom - y);
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, id, gc_, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(rows), static_cast<int16_t>(copied.left),
                      static_cast<int16_t>(y), 0, format_.depth, rowBytes * rows,
                      &bytes[static_cast<size_t>(y - copied.top) * rowBytes]);
    }
}

void X11Display::SendAndFlush() {
    SendChanges();
    Present();
    std::lock_guard<std::mutex> sending(sendLock_);
    xcb_flush(connection_);
}

void X11Display::Run() {
    const int fd = socketFd_;
    uint64_t served = 0;
    for (;;) {
        wakePending_.store(false);
        uint64_t serving;
        {
            std::lock_guard<std::mutex> lock(lock_);
            serving = flushRequested_;
        }
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            HandleEvent(event);
            std::free(event);
        }
        if (xcb_connection_has_error(connection_)) break;
        SendAndFlush();
        if (serving > served) {
            // A round trip: the server has handled every request sent before it. Exposures it
            // sent meanwhile are answered, and confirmed by another round trip.
            for (bool answered = true; answered;) {
                xcb_get_input_focus_cookie_t cookie;
                {
                    std::lock_guard<std::mutex> sending(sendLock_);
                    cookie = xcb_get_input_focus(connection_);
                    xcb_flush(connection_);
                }
                std::free(xcb_get_input_focus_reply(connection_, cookie, nullptr));
                answered = false;
                while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
                    HandleEvent(event);
                    std::free(event);
                    answered = true;
                }
                SendAndFlush();
            }
            served = serving;
            std::lock_guard<std::mutex> lock(lock_);
            flushDone_ = served;
            flushed_.notify_all();
        }
        // The round trip may have queued events without leaving anything on the socket.
        if (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
            HandleEvent(event);
            std::free(event);
            continue;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            ssize_t got = read(wakeFd_, &count, sizeof count);
            (void)got;
        }
    }
    Lose();
}

void X11Display::Lose() {
    // From now on the layer is headless: windows stay in memory only, boxes go to the sink or
    // standard error, and no one waits for a flush.
    g_connected.store(nullptr);
    g_lost.store(this, std::memory_order_release);
    std::fprintf(stderr, "portrix: %s; windows are kept in memory only\n", lostProblem_.c_str());
    std::fflush(stderr);
    std::vector<HWND> shown;
    {
        std::lock_guard<std::mutex> lock(lock_);
        for (const auto& entry : windows_) shown.push_back(entry.first);
        windows_.clear();
        byId_.clear();
        doomed_.clear();
        flushDone_ = UINT64_MAX;
        flushed_.notify_all();
    }
    // A box waiting for a click on its window looks again, and finds no display.
    for (HWND hwnd : shown) PostMessageA(hwnd, WM_NULL, 0, 0);
}

}  // namespace platform_display
