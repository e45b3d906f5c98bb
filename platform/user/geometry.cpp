// Window rectangles, coordinate conversion, moving, showing and hiding, hit-testing.
//
// There is no non-client frame: a window's client area is its whole window rectangle, so the
// client origin on the screen is the sum of the window's and its ancestors' top-left corners.
#include <algorithm>

#include "internal/display.h"
#include "user/user_state.h"

using namespace user;

namespace {

RECT ScreenRectLocked(State& state, const Window& window) {
    POINT origin = ClientOriginLocked(state, window);
    SIZE size = WindowSize(window);
    return {origin.x, origin.y, origin.x + size.cx, origin.y + size.cy};
}

// Bounding rectangle of a minus b (both in the same coordinates).
RECT BoundingDifference(const RECT& a, const RECT& b) {
    RECT overlap;
    if (!IntersectRect(&overlap, &a, &b)) return a;
    if (EqualRect(&overlap, &a)) return {0, 0, 0, 0};
    RECT result = a;
    // Only when the overlap spans a whole side can that band be cut off.
    if (overlap.top == a.top && overlap.bottom == a.bottom) {
        if (overlap.left == a.left)
            result.left = overlap.right;
        else if (overlap.right == a.right)
            result.right = overlap.left;
    } else if (overlap.left == a.left && overlap.right == a.right) {
        if (overlap.top == a.top)
            result.top = overlap.bottom;
        else if (overlap.bottom == a.bottom)
            result.bottom = overlap.top;
    }
    return result;
}

// The part of the parent (in its client coordinates) that a child uncovers, invalidated with
// erasing as the original does when a child goes away or moves.
void ExposeParentLocked(State& state, const Window& child, const RECT& area) {
    if (!child.parent || IsRectEmpty(&area)) return;
    if (Window* parent = FindWindowLocked(state, child.parent)) {
        InvalidateLocked(state, *parent, &area, true, ChildPolicy::kByStyle);
    }
}

bool ContainsScreenPointLocked(State& state, const Window& window, POINT point) {
    RECT rect = ScreenRectLocked(state, window);
    return PtInRect(&rect, point) != FALSE;
}

// What the window answers to WM_NCHITTEST. Only the owner thread may ask the window itself;
// for a window of another thread the class's own rule is used.
LRESULT HitTest(HWND hwnd, POINT point) {
    State& state = GetState();
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window) return HTNOWHERE;
        if (!IsOwnedByCallerLocked(*window)) {
            bool transparentStatic = window->windowClass &&
                                     window->windowClass->name == WC_STATIC &&
                                     !(window->style & SS_NOTIFY);
            return transparentStatic ? HTTRANSPARENT : HTCLIENT;
        }
    }
    return SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
}

std::vector<HWND> HitCandidates(HWND parent, POINT point) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    std::vector<HWND> result;
    const std::vector<HWND>* list = &state.topLevels;
    if (parent) {
        Window* window = FindWindowLocked(state, parent);
        if (!window) return result;
        list = &window->children;
    }
    for (HWND hwnd : *list) {
        Window* window = FindWindowLocked(state, hwnd);
        if ((window->style & WS_VISIBLE) && !(window->style & WS_DISABLED) &&
            ContainsScreenPointLocked(state, *window, point)) {
            result.push_back(hwnd);
        }
    }
    return result;
}

HWND DeepestAt(HWND hwnd, POINT point) {
    for (HWND child : HitCandidates(hwnd, point)) {
        if (HitTest(child, point) != HTTRANSPARENT) return DeepestAt(child, point);
    }
    return hwnd;
}

}  // namespace

namespace user {

void HideWindowLocked(State& state, Window& window) {
    if (!(window.style & WS_VISIBLE)) return;
    bool shown = IsReallyVisibleLocked(state, window);
    ClearUpdateTreeLocked(state, window);
    window.style &= ~static_cast<DWORD>(WS_VISIBLE);
    if (shown) ExposeParentLocked(state, window, window.rect);
}

}  // namespace user

namespace {

// Answers a rectangle query on a window under the state's lock; FALSE, with the error the
// original sets, for an unknown window or a missing rectangle.
template <typename Measure>
BOOL QueryWindowRect(HWND hwnd, LPRECT rect, Measure measure) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || !rect) {
        SetLastError(window ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = measure(state, *window);
    return TRUE;
}

// Moves a point by the window's client origin, times sign: +1 from client to screen, -1 back.
BOOL OffsetByClientOrigin(HWND hwnd, LPPOINT point, int sign) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || !point) return FALSE;
    POINT origin = ClientOriginLocked(state, *window);
    point->x += sign * origin.x;
    point->y += sign * origin.y;
    return TRUE;
}

}  // namespace

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
    return QueryWindowRect(hwnd, rect, [](State& state, const Window& window) {
        return ScreenRectLocked(state, window);
    });
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    return QueryWindowRect(hwnd, rect, [](State&, const Window& window) {
        SIZE size = WindowSize(window);
        return RECT{0, 0, size.cx, size.cy};
    });
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
    return OffsetByClientOrigin(hwnd, point, -1);
}

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
    return OffsetByClientOrigin(hwnd, point, +1);
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    POINT a{0, 0}, b{0, 0};
    if (from) {
        Window* window = FindWindowOrFailLocked(state, from);
        if (!window) return 0;
        a = ClientOriginLocked(state, *window);
    }
    if (to) {
        Window* window = FindWindowOrFailLocked(state, to);
        if (!window) return 0;
        b = ClientOriginLocked(state, *window);
    }
    LONG dx = a.x - b.x, dy = a.y - b.y;
    for (UINT i = 0; points && i < count; ++i) {
        points[i].x += dx;
        points[i].y += dy;
    }
    SetLastError(ERROR_SUCCESS);
    return MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy));
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    State& state = GetState();
    bool sizeChanged = false, moved = false;
    RECT newRect;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window || hwnd == state.desktop) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        RECT old = window->rect;
        newRect = old;
        if (!(flags & SWP_NOMOVE)) OffsetRect(&newRect, x - old.left, y - old.top);
        if (!(flags & SWP_NOSIZE)) {
            newRect.right = newRect.left + std::max(cx, 0);
            newRect.bottom = newRect.top + std::max(cy, 0);
        }
        moved = newRect.left != old.left || newRect.top != old.top;
        sizeChanged = (newRect.right - newRect.left) != (old.right - old.left) ||
                      (newRect.bottom - newRect.top) != (old.bottom - old.top);

        if (!(flags & SWP_NOZORDER)) {
            std::vector<HWND>* siblings = &state.topLevels;
            if (window->parent) siblings = &FindWindowLocked(state, window->parent)->children;
            auto self = std::find(siblings->begin(), siblings->end(), hwnd);
            if (self != siblings->end() && insertAfter != hwnd) {
                siblings->erase(self);
                if (insertAfter == HWND_BOTTOM) {
                    siblings->push_back(hwnd);
                } else {
                    auto after = std::find(siblings->begin(), siblings->end(), insertAfter);
                    if (after == siblings->end()) {
                        siblings->insert(siblings->begin(), hwnd);  // HWND_TOP and the like
                    } else {
                        siblings->insert(after + 1, hwnd);
                    }
                }
            }
        }

        bool visible = IsReallyVisibleLocked(state, *window);
        window->rect = newRect;
        if (moved) window->placedByHost = true;
        if (visible && !(flags & SWP_NOREDRAW) && (moved || sizeChanged)) {
            // The parent gets back what the window no longer covers. Window contents are not
            // carried along on a move (there are no saved bits to copy), so a moved window is
            // redrawn whole; a resized one redraws what it newly shows.
            ExposeParentLocked(state, *window, moved ? old : BoundingDifference(old, newRect));
            if (moved) {
                InvalidateLocked(state, *window, nullptr, true, ChildPolicy::kAll);
            } else {
                RECT oldClient{0, 0, old.right - old.left, old.bottom - old.top};
                RECT newClient{0, 0, newRect.right - newRect.left, newRect.bottom - newRect.top};
                RECT grown = BoundingDifference(newClient, oldClient);
                if (!IsRectEmpty(&grown)) {
                    InvalidateLocked(state, *window, &grown, true, ChildPolicy::kByStyle);
                }
            }
        }
    }
    if (sizeChanged) {
        SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED,
                     MAKELPARAM(newRect.right - newRect.left, newRect.bottom - newRect.top));
    }
    if (moved) SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(newRect.left, newRect.top));
    if (moved || sizeChanged) platform::internal::DisplayWindowChanged(hwnd);
    if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOWNA);
    if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : static_cast<UINT>(SWP_NOREDRAW));
    return SetWindowPos(hwnd, nullptr, x, y, width, height, flags);
}

BOOL ShowWindow(HWND hwnd, int cmdShow) {
    State& state = GetState();
    bool show = cmdShow != SW_HIDE;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window || hwnd == state.desktop) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        bool wasVisible = (window->style & WS_VISIBLE) != 0;
        if (wasVisible == show) return wasVisible;
    }
    SendMessageA(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);

    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window) return FALSE;
        bool wasVisible = (window->style & WS_VISIBLE) != 0;
        if (wasVisible == show) return wasVisible;
        if (show) {
            window->style |= WS_VISIBLE;
            InvalidateLocked(state, *window, nullptr, true, ChildPolicy::kAll);
        } else {
            HideWindowLocked(state, *window);
        }
    }
    platform::internal::DisplayWindowChanged(hwnd);
    return !show;
}

namespace platform::internal {

HWND WindowFromPointInTop(HWND top, POINT screenPoint) {
    for (HWND candidate : HitCandidates(nullptr, screenPoint)) {
        if (candidate == top) {
            return HitTest(top, screenPoint) != HTTRANSPARENT ? DeepestAt(top, screenPoint)
                                                              : nullptr;
        }
    }
    return nullptr;
}

BOOL QueryTopLevel(HWND hwnd, TopLevelState* top) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || window->parent || hwnd == state.desktop || window->destroying) return FALSE;
    top->visible = (window->style & WS_VISIBLE) != 0;
    top->rect = window->rect;
    top->title = window->text;
    top->style = window->style;
    top->placedByHost = window->placedByHost;
    return TRUE;
}

// Posted rather than sent, as the window belongs to another thread than the display's: the
// host sees them in its message loop, in order with the input that follows.
void MovedByWindowManager(HWND top, POINT origin) {
    State& state = GetState();
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, top);
        if (!window || window->parent || window->destroying) return;
        if (window->rect.left == origin.x && window->rect.top == origin.y) return;
        OffsetRect(&window->rect, origin.x - window->rect.left, origin.y - window->rect.top);
        window->placedByHost = true;
    }
    PostMessageA(top, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
}

void MinimizedByWindowManager(HWND top, bool minimized) {
    State& state = GetState();
    SIZE size;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, top);
        if (!window || window->parent || window->destroying || window->minimized == minimized)
            return;
        window->minimized = minimized;
        size = WindowSize(*window);
    }
    if (minimized) {
        PostMessageA(top, WM_SIZE, SIZE_MINIMIZED, 0);
    } else {
        PostMessageA(top, WM_SIZE, SIZE_RESTORED, MAKELPARAM(size.cx, size.cy));
    }
}

}  // namespace platform::internal

HWND WindowFromPoint(POINT point) {
    for (HWND top : HitCandidates(nullptr, point)) {
        if (HitTest(top, point) != HTTRANSPARENT) return DeepestAt(top, point);
    }
    return nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT point) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, parent);
    if (!window) return nullptr;
    SIZE size = WindowSize(*window);
    RECT client{0, 0, size.cx, size.cy};
    if (!PtInRect(&client, point)) return nullptr;
    const std::vector<HWND>& list = parent == state.desktop ? state.topLevels : window->children;
    for (HWND child : list) {
        Window* c = FindWindowLocked(state, child);
        if (PtInRect(&c->rect, point)) return child;
    }
    return parent;
}

// ---- Rectangles -------------------------------------------------------------------------------

BOOL SetRect(LPRECT rect, int left, int top, int right, int bottom) {
    if (!rect) return FALSE;
    *rect = {left, top, right, bottom};
    return TRUE;
}

BOOL SetRectEmpty(LPRECT rect) {
    return SetRect(rect, 0, 0, 0, 0);
}

BOOL CopyRect(LPRECT dst, const RECT* src) {
    if (!dst || !src) return FALSE;
    *dst = *src;
    return TRUE;
}

BOOL IsRectEmpty(const RECT* rect) {
    return !rect || rect->right <= rect->left || rect->bottom <= rect->top;
}

BOOL EqualRect(const RECT* a, const RECT* b) {
    if (!a || !b) return FALSE;
    return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

BOOL PtInRect(const RECT* rect, POINT point) {
    return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top &&
           point.y < rect->bottom;
}

BOOL OffsetRect(LPRECT rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL InflateRect(LPRECT rect, int dx, int dy) {
    if (!rect) return FALSE;
    rect->left -= dx;
    rect->right += dx;
    rect->top -= dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL IntersectRect(LPRECT dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b) return FALSE;
    RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
           std::min(a->bottom, b->bottom)};
    if (IsRectEmpty(&r)) {
        SetRectEmpty(dst);
        return FALSE;
    }
    *dst = r;
    return TRUE;
}

BOOL UnionRect(LPRECT dst, const RECT* a, const RECT* b) {
    if (!dst || !a || !b) return FALSE;
    bool emptyA = IsRectEmpty(a), emptyB = IsRectEmpty(b);
    if (emptyA && emptyB) {
        SetRectEmpty(dst);
        return FALSE;
    }
    if (emptyA) {
        *dst = *b;
    } else if (emptyB) {
        *dst = *a;
    } else {
        *dst = {std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
    }
    return TRUE;
}
