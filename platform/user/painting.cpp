// Update regions, WM_PAINT and WM_ERASEBKGND, default window procedures.
#include <algorithm>
#include <cstring>
#include <vector>

#include "internal/display.h"
#include "internal/window_surface.h"
#include "user/user_state.h"

namespace user {
namespace {

RECT ClientRectOf(const Window& window) {
    SIZE size = WindowSize(window);
    return {0, 0, size.cx, size.cy};
}

// Removes rect from the update region. The region is a bounding rectangle, so only a band
// that spans it completely can be taken off; anything else leaves it as it is.
void SubtractUpdateLocked(Window& window, const RECT& rect) {
    RECT& u = window.update;
    RECT overlap;
    if (!IntersectRect(&overlap, &u, &rect)) return;
    if (EqualRect(&overlap, &u)) {
        window.hasUpdate = false;
        window.erase = false;
        SetRectEmpty(&u);
        return;
    }
    if (overlap.left == u.left && overlap.right == u.right) {
        if (overlap.top == u.top)
            u.top = overlap.bottom;
        else if (overlap.bottom == u.bottom)
            u.bottom = overlap.top;
    } else if (overlap.top == u.top && overlap.bottom == u.bottom) {
        if (overlap.left == u.left)
            u.left = overlap.right;
        else if (overlap.right == u.right)
            u.right = overlap.left;
    }
}

void UpdateTree(HWND hwnd, bool children);

// Fills the client area with the class background: a system colour index + 1, or a brush.
LRESULT EraseBackground(HWND hwnd, HDC hdc) {
    State& state = GetState();
    HBRUSH brush = nullptr;
    RECT client{};
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window || !window->windowClass) return 0;
        brush = window->windowClass->background;
        client = ClientRectOf(*window);
    }
    if (!brush || !hdc) return 0;
    COLORREF color;
    auto value = reinterpret_cast<uintptr_t>(brush);
    if (value <= COLOR_BTNHIGHLIGHT + 1) {
        color = GetSysColor(static_cast<int>(value) - 1);
    } else {
        LOGBRUSH logBrush{};
        if (GetObjectA(brush, sizeof logBrush, &logBrush) != sizeof logBrush ||
            logBrush.lbStyle != BS_SOLID) {
            return 0;
        }
        color = logBrush.lbColor;
    }
    platform::internal::FillDCRect(hdc, client, color);
    return 1;
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A static control shows nothing but its background here. Without SS_NOTIFY it is transparent
// to the mouse, so clicks go to whatever lies beneath it, as on the original platform.
LRESULT CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCHITTEST) {
        if (!(GetWindowLongA(hwnd, GWL_STYLE) & SS_NOTIFY)) return HTTRANSPARENT;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

void MarkForPaintLocked(Window& window) {
    if (window.inPaintPending || !window.queue) return;
    window.queue->paintPending.push_back(window.handle);
    window.inPaintPending = true;
}

void InvalidateLocked(State& state, Window& window, const RECT* rect, bool erase,
                      ChildPolicy children, QueueWakes* wakes) {
    if (!IsReallyVisibleLocked(state, window)) return;
    RECT client = ClientRectOf(window);
    RECT area;
    if (!IntersectRect(&area, rect ? rect : &client, &client)) return;
    // A window that already needed painting has had its owner woken for it.
    const bool newlyNeedsPaint = !window.hasUpdate && !window.internalPaint;
    UnionRect(&window.update, window.hasUpdate ? &window.update : &area, &area);
    window.hasUpdate = true;
    window.erase = window.erase || erase;
    MarkForPaintLocked(window);
    if (window.queue && newlyNeedsPaint) {
        if (wakes)
            wakes->Add(window.queue);
        else
            window.queue->wake.Unpark();
    }

    bool includeChildren = children == ChildPolicy::kAll ||
                           (children == ChildPolicy::kByStyle && !(window.style & WS_CLIPCHILDREN));
    if (!includeChildren) return;
    // The update region is kept as one bounding rectangle, so the parent will paint all of it:
    // a child under that rectangle but outside the area invalidated now is drawn over as well
    // and must paint again after the parent (without an erase that nobody asked for).
    const RECT merged = window.update;
    for (HWND hwnd : window.children) {
        Window* child = FindWindowLocked(state, hwnd);
        if (!child || !(child->style & WS_VISIBLE)) continue;
        RECT childArea;
        if (IntersectRect(&childArea, &area, &child->rect)) {
            OffsetRect(&childArea, -child->rect.left, -child->rect.top);
            InvalidateLocked(state, *child, &childArea, erase, children, wakes);
        }
        if (IntersectRect(&childArea, &merged, &child->rect)) {
            OffsetRect(&childArea, -child->rect.left, -child->rect.top);
            InvalidateLocked(state, *child, &childArea, false, children, wakes);
        }
    }
}

void ClearUpdateTreeLocked(State& state, Window& window) {
    window.hasUpdate = false;
    window.erase = false;
    window.internalPaint = false;
    SetRectEmpty(&window.update);
    for (HWND hwnd : window.children) {
        if (Window* child = FindWindowLocked(state, hwnd)) ClearUpdateTreeLocked(state, *child);
    }
}

void RegisterSystemClassesLocked(State& state) {
    auto add = [&](const char* name, const char* key, WNDPROC proc) {
        auto cls = std::make_shared<WindowClass>();
        cls->name = name;
        cls->proc = proc;
        cls->background = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
        cls->style = CS_DBLCLKS;  // as the original's dialog and static classes have
        cls->system = true;
        state.classes[key] = cls;
    };
    add(WC_DIALOG, "#32770", DialogProc);
    add(WC_STATIC, "static", StaticProc);
}

namespace {

void UpdateTree(HWND hwnd, bool children) {
    bool paint = false;
    std::vector<HWND> kids;
    {
        State& state = GetState();
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window || !IsReallyVisibleLocked(state, *window)) return;
        paint = window->hasUpdate || window->internalPaint;
        if (children) kids = window->children;
    }
    if (paint) SendMessageA(hwnd, WM_PAINT, 0, 0);
    for (HWND child : kids) UpdateTree(child, true);
}

}  // namespace
}  // namespace user

using namespace user;

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    State& state = GetState();
    QueueWakes wakes;  // declared first: woken after the lock is released
    std::lock_guard<std::mutex> lock(state.lock);
    if (!hwnd || hwnd == state.desktop) {
        for (HWND top : state.topLevels) {
            InvalidateLocked(state, *FindWindowLocked(state, top), nullptr, erase != FALSE,
                             ChildPolicy::kAll, &wakes);
        }
        return TRUE;
    }
    Window* window = FindWindowOrFailLocked(state, hwnd);
    if (!window) return FALSE;
    InvalidateLocked(state, *window, rect, erase != FALSE, ChildPolicy::kByStyle, &wakes);
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window) {
        if (!hwnd) return TRUE;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!window->hasUpdate) return TRUE;
    RECT client = ClientRectOf(*window);
    SubtractUpdateLocked(*window, rect ? *rect : client);
    window->internalPaint = window->internalPaint && window->hasUpdate;
    return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL erase) {
    State& state = GetState();
    RECT update{};
    bool needsErase = false;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            if (rect) SetRectEmpty(rect);
            return FALSE;
        }
        if (window->hasUpdate) update = window->update;
        needsErase = window->hasUpdate && window->erase;
    }
    if (rect) *rect = update;
    if (IsRectEmpty(&update)) return FALSE;
    if (erase && needsErase) {
        HDC hdc = platform::internal::CreateWindowDCClipped(hwnd, &update);
        if (hdc) {
            bool erased = SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) != 0;
            ReleaseDC(hwnd, hdc);
            if (erased) {
                std::lock_guard<std::mutex> lock(state.lock);
                if (Window* window = FindWindowLocked(state, hwnd)) window->erase = false;
            }
        }
    }
    return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    UpdateTree(hwnd, true);
    return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT* updateRect, HRGN updateRegion, UINT flags) {
    if (updateRegion) {
        // Regions are not kept here; only rectangles.
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    State& state = GetState();
    std::vector<HWND> targets;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        if (!hwnd || hwnd == state.desktop) {
            targets = state.topLevels;
        } else {
            if (!FindWindowLocked(state, hwnd)) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return FALSE;
            }
            targets.push_back(hwnd);
        }
        ChildPolicy policy = (flags & RDW_ALLCHILDREN)  ? ChildPolicy::kAll
                             : (flags & RDW_NOCHILDREN) ? ChildPolicy::kNone
                                                        : ChildPolicy::kByStyle;
        for (HWND target : targets) {
            Window* window = FindWindowLocked(state, target);
            const RECT* rect = target == hwnd ? updateRect : nullptr;
            if (flags & RDW_INVALIDATE) {
                InvalidateLocked(state, *window, rect, (flags & RDW_ERASE) != 0, policy);
            }
            if (flags & RDW_INTERNALPAINT) {
                window->internalPaint = true;
                MarkForPaintLocked(*window);
            }
            if (flags & RDW_NOINTERNALPAINT) window->internalPaint = false;
            if (flags & RDW_VALIDATE) {
                if (window->hasUpdate)
                    SubtractUpdateLocked(*window, rect ? *rect : ClientRectOf(*window));
                if (policy == ChildPolicy::kAll) {
                    for (HWND child : window->children) {
                        if (Window* c = FindWindowLocked(state, child))
                            ClearUpdateTreeLocked(state, *c);
                    }
                }
            }
            if (flags & RDW_NOERASE) window->erase = false;
            if (window->queue) window->queue->wake.Unpark();
        }
    }
    if (flags & (RDW_UPDATENOW | RDW_ERASENOW)) {
        for (HWND target : targets) UpdateTree(target, !(flags & RDW_NOCHILDREN));
    }
    return TRUE;
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    if (!paint) return nullptr;
    std::memset(paint, 0, sizeof *paint);
    State& state = GetState();
    RECT rect{};
    bool erase = false;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowOrFailLocked(state, hwnd);
        if (!window) return nullptr;
        if (window->hasUpdate) rect = window->update;
        erase = window->hasUpdate && window->erase;
        window->hasUpdate = false;
        window->erase = false;
        window->internalPaint = false;
        SetRectEmpty(&window->update);
    }
    HDC hdc = platform::internal::CreateWindowDCClipped(hwnd, &rect);
    if (erase && hdc) {
        erase = SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) == 0;
    }
    paint->hdc = hdc;
    paint->fErase = erase ? TRUE : FALSE;
    paint->rcPaint = rect;
    return hdc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint && paint->hdc) ReleaseDC(hwnd, paint->hdc);
    return TRUE;
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE:
            return TRUE;
        case WM_ERASEBKGND:
            return EraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(hwnd, &paint);
            EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_NCHITTEST: {
            RECT rect;
            if (!GetWindowRect(hwnd, &rect)) return HTNOWHERE;
            POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            return PtInRect(&rect, point) ? HTCLIENT : HTNOWHERE;
        }
        case WM_SETTEXT: {
            State& state = GetState();
            {
                std::lock_guard<std::mutex> lock(state.lock);
                Window* window = FindWindowLocked(state, hwnd);
                if (!window) return FALSE;
                auto text = reinterpret_cast<LPCSTR>(lParam);
                window->text = text ? text : "";
                if (window->parent) return TRUE;
            }
            platform::internal::DisplayWindowChanged(hwnd);  // the real window's title
            return TRUE;
        }
        case WM_GETTEXT:
        case WM_GETTEXTLENGTH: {
            State& state = GetState();
            std::lock_guard<std::mutex> lock(state.lock);
            Window* window = FindWindowLocked(state, hwnd);
            if (!window) return 0;
            auto length = static_cast<LRESULT>(window->text.size());
            if (message == WM_GETTEXTLENGTH) return length;
            auto* buffer = reinterpret_cast<LPSTR>(lParam);
            if (!buffer || wParam == 0) return 0;
            LRESULT copied = std::min<LRESULT>(length, static_cast<LRESULT>(wParam) - 1);
            std::memcpy(buffer, window->text.data(), static_cast<size_t>(copied));
            buffer[copied] = '\0';
            return copied;
        }
        default:
            return 0;
    }
}
