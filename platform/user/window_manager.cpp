// Window classes, creation and destruction, the window tree and window data.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal/create_hook.h"
#include "internal/display.h"
#include "internal/window_surface.h"
#include "user/user_state.h"

namespace user {
namespace {

constexpr DWORD kErrorTopLevelWithChildStyle = 1406;  // ERROR_TLW_WITH_WSCHILD
constexpr DWORD kErrorClassAlreadyExists = 1410;      // ERROR_CLASS_ALREADY_EXISTS
constexpr DWORD kErrorClassHasWindows = 1412;         // ERROR_CLASS_HAS_WINDOWS
constexpr DWORD kErrorInvalidIndex = 1413;            // ERROR_INVALID_INDEX
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

std::string Lower(const char* text) {
    std::string s(text ? text : "");
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

thread_local platform::internal::CreateWindowHook t_createHook = nullptr;
thread_local void* t_createHookContext = nullptr;

// Removes every trace of a window that is gone: timers, posted and sent messages, links.
void ForgetWindowLocked(State& state, Window& window) {
    if (window.queue) {
        ThreadQueue& queue = *window.queue;
        auto& timers = queue.timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(),
                                    [&](const Timer& t) { return t.hwnd == window.handle; }),
                     timers.end());
        auto& posted = queue.posted;
        posted.erase(std::remove_if(posted.begin(), posted.end(),
                                    [&](const MSG& m) { return m.hwnd == window.handle; }),
                     posted.end());
        for (auto it = queue.sent.begin(); it != queue.sent.end();) {
            if ((*it)->hwnd == window.handle) {
                (*it)->done = true;
                (*it)->sender->wake.Unpark();
                it = queue.sent.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::vector<HWND>* siblings = &state.topLevels;
    if (window.parent) {
        if (Window* parent = FindWindowLocked(state, window.parent)) siblings = &parent->children;
    }
    siblings->erase(std::remove(siblings->begin(), siblings->end(), window.handle),
                    siblings->end());
}

// The window and its descendants, parents before children and, in postOrder, after them.
void CollectTreeLocked(State& state, HWND hwnd, std::vector<HWND>* preOrder,
                       std::vector<HWND>* postOrder) {
    Window* window = FindWindowLocked(state, hwnd);
    if (!window) return;
    preOrder->push_back(hwnd);
    for (HWND child : window->children) CollectTreeLocked(state, child, preOrder, postOrder);
    postOrder->push_back(hwnd);
}

std::vector<HWND> SiblingsOf(State& state, const Window& window) {
    if (!window.parent) return state.topLevels;
    Window* parent = FindWindowLocked(state, window.parent);
    return parent ? parent->children : std::vector<HWND>{};
}

}  // namespace

State& GetState() {
    static State* state = [] {
        auto* s = new State;
        auto desktop = std::make_unique<Window>();
        desktop->handle = reinterpret_cast<HWND>(s->nextHandle);
        s->nextHandle += 4;
        desktop->style = WS_VISIBLE | WS_CLIPCHILDREN;
        desktop->rect = {0, 0, kScreenWidth, kScreenHeight};
        s->desktop = desktop->handle;
        s->windows.emplace(desktop->handle, std::move(desktop));
        RegisterSystemClassesLocked(*s);
        return s;
    }();
    return *state;
}

Window* FindWindowLocked(State& state, HWND hwnd) {
    if (!hwnd) return nullptr;
    auto it = state.windows.find(hwnd);
    return it == state.windows.end() ? nullptr : it->second.get();
}

Window* FindWindowOrFailLocked(State& state, HWND hwnd) {
    Window* window = FindWindowLocked(state, hwnd);
    if (!window) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return window;
}

bool IsReallyVisibleLocked(State& state, const Window& window) {
    const Window* w = &window;
    while (w) {
        if (!(w->style & WS_VISIBLE)) return false;
        w = w->parent ? FindWindowLocked(state, w->parent) : nullptr;
    }
    return true;
}

POINT ClientOriginLocked(State& state, const Window& window) {
    POINT origin{0, 0};
    const Window* w = &window;
    while (w) {
        origin.x += w->rect.left;
        origin.y += w->rect.top;
        w = w->parent ? FindWindowLocked(state, w->parent) : nullptr;
    }
    return origin;
}

LRESULT CallWindowDirect(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    State& state = GetState();
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window) return 0;
        proc = window->proc;
    }
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

}  // namespace user

using namespace user;

namespace platform::internal {

void SetCreateWindowHook(CreateWindowHook hook, void* context) {
    t_createHook = hook;
    t_createHookContext = context;
}

BOOL QueryWindowPlacement(HWND hwnd, WindowPlacement* placement) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || hwnd == state.desktop || !placement) return FALSE;
    Window* top = window;
    while (top->parent) top = FindWindowLocked(state, top->parent);
    SIZE topSize = WindowSize(*top);
    POINT topOrigin = ClientOriginLocked(state, *top);
    POINT origin = ClientOriginLocked(state, *window);
    SIZE size = WindowSize(*window);
    RECT client{origin.x - topOrigin.x, origin.y - topOrigin.y, 0, 0};
    client.right = client.left + size.cx;
    client.bottom = client.top + size.cy;
    RECT visible{0, 0, 0, 0};
    if (IsReallyVisibleLocked(state, *window)) {
        visible = client;
        // Clip to every ancestor's client area.
        for (Window* w = window; w->parent;) {
            w = FindWindowLocked(state, w->parent);
            POINT o = ClientOriginLocked(state, *w);
            SIZE s = WindowSize(*w);
            RECT area{o.x - topOrigin.x, o.y - topOrigin.y, 0, 0};
            area.right = area.left + s.cx;
            area.bottom = area.top + s.cy;
            if (!IntersectRect(&visible, &visible, &area)) break;
        }
    }
    placement->top = top->handle;
    placement->topClientSize = topSize;
    placement->clientInTop = client;
    placement->visibleInTop = visible;
    return TRUE;
}

}  // namespace platform::internal

// ---- Classes ----------------------------------------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA* wndClass) {
    if (!wndClass || !wndClass->lpszClassName || !wndClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    std::string key = Lower(wndClass->lpszClassName);
    auto it = state.classes.find(key);
    if (it != state.classes.end() && !it->second->system) {
        SetLastError(kErrorClassAlreadyExists);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->name = wndClass->lpszClassName;
    cls->style = wndClass->style;
    cls->proc = wndClass->lpfnWndProc;
    cls->instance = wndClass->hInstance;
    cls->background = wndClass->hbrBackground;
    state.classes[key] = cls;
    static ATOM nextAtom = 0xC000;
    return nextAtom++;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    auto it = state.classes.find(Lower(className));
    if (it == state.classes.end() || it->second->system) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    for (auto& entry : state.windows) {
        if (entry.second->windowClass == it->second) {
            SetLastError(kErrorClassHasWindows);
            return FALSE;
        }
    }
    state.classes.erase(it);
    return TRUE;
}

BOOL GetClassInfoA(HINSTANCE, LPCSTR className, LPWNDCLASSA wndClass) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    auto it = state.classes.find(Lower(className));
    if (it == state.classes.end() || !wndClass) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    const WindowClass& cls = *it->second;
    *wndClass = WNDCLASSA{};
    wndClass->style = cls.style;
    wndClass->lpfnWndProc = cls.proc;
    wndClass->hInstance = cls.instance;
    wndClass->hbrBackground = cls.background;
    wndClass->lpszClassName = className;
    return TRUE;
}

int GetClassNameA(HWND hwnd, LPSTR className, int maxCount) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || !className || maxCount <= 0) {
        SetLastError(window ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::string name = window->windowClass ? window->windowClass->name : "#32769";
    int length = std::min<int>(static_cast<int>(name.size()), maxCount - 1);
    std::memcpy(className, name.data(), static_cast<size_t>(length));
    className[length] = '\0';
    return length;
}

ULONG_PTR GetClassLongPtrA(HWND hwnd, int index) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || !window->windowClass) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GCLP_HBRBACKGROUND) {
        return reinterpret_cast<ULONG_PTR>(window->windowClass->background);
    }
    if (index == GCL_STYLE) return window->windowClass->style;
    SetLastError(kErrorInvalidIndex);
    return 0;
}

ULONG_PTR SetClassLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || !window->windowClass) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GCLP_HBRBACKGROUND) {
        auto old = reinterpret_cast<ULONG_PTR>(window->windowClass->background);
        window->windowClass->background = reinterpret_cast<HBRUSH>(value);
        return old;
    }
    SetLastError(kErrorInvalidIndex);
    return 0;
}

// ---- Creation and destruction -----------------------------------------------------------------

static BOOL DestroyWindowTree(HWND hwnd, bool sendDestroy);

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    State& state = GetState();
    HWND hwnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        auto it = state.classes.find(Lower(className));
        if (it == state.classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (parent == state.desktop) parent = nullptr;
        Window* parentWindow = nullptr;
        if (parent) {
            parentWindow = FindWindowLocked(state, parent);
            if (!parentWindow || parentWindow->destroying) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
        }
        if ((style & WS_CHILD) && !parentWindow) {
            SetLastError(kErrorTopLevelWithChildStyle);
            return nullptr;
        }
        // Only a child window is attached to its parent's client area; a top-level window
        // with a parent (an owned window) is positioned on the screen like any other.
        if (!(style & WS_CHILD)) parent = nullptr, parentWindow = nullptr;
        const bool defaultPosition = x == CW_USEDEFAULT;
        if (x == CW_USEDEFAULT) x = 0, y = (y == CW_USEDEFAULT ? 0 : y);
        if (y == CW_USEDEFAULT) y = 0;
        if (width == CW_USEDEFAULT) {
            width = parentWindow ? 0 : kDefaultWidth;
            height = parentWindow ? 0 : kDefaultHeight;
        }
        auto window = std::make_unique<Window>();
        hwnd = reinterpret_cast<HWND>(state.nextHandle);
        state.nextHandle += 4;
        window->handle = hwnd;
        window->queue = CurrentQueueLocked(state);
        window->windowClass = it->second;
        window->proc = it->second->proc;
        // Shown only after WM_CREATE, as the original does; a top-level window always clips
        // its siblings.
        window->style = style & ~static_cast<DWORD>(WS_VISIBLE);
        if (!(style & WS_CHILD)) window->style |= WS_CLIPSIBLINGS;
        window->exStyle = exStyle;
        window->parent = parent;
        window->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
        window->placedByHost = !defaultPosition;
        window->text = windowName ? windowName : "";
        window->id = parentWindow ? reinterpret_cast<LONG_PTR>(menu) : 0;
        window->instance = instance;
        if (parentWindow) {
            parentWindow->children.push_back(hwnd);  // a new child goes to the bottom
        } else {
            state.topLevels.insert(state.topLevels.begin(), hwnd);
        }
        state.windows.emplace(hwnd, std::move(window));
    }

    if (platform::internal::CreateWindowHook hook = t_createHook) {
        void* context = t_createHookContext;
        t_createHook = nullptr;
        t_createHookContext = nullptr;
        hook(hwnd, context);
    }

    CREATESTRUCTA create{};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.cx = width;
    create.cy = height;
    create.x = x;
    create.y = y;
    create.style = static_cast<LONG>(style);
    create.lpszName = windowName;
    create.lpszClass = className;
    create.dwExStyle = exStyle;
    LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (!SendMessageA(hwnd, WM_NCCREATE, 0, createParam) ||
        SendMessageA(hwnd, WM_CREATE, 0, createParam) == -1) {
        // The window never existed for its handlers: it gets WM_NCDESTROY but no WM_DESTROY.
        DestroyWindowTree(hwnd, false);
        return nullptr;
    }
    if (!IsWindow(hwnd)) return nullptr;
    RECT rect;
    GetClientRect(hwnd, &rect);
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(rect.right, rect.bottom));
    SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(x, y));
    if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    return IsWindow(hwnd) ? hwnd : nullptr;
}

static BOOL DestroyWindowTree(HWND hwnd, bool sendDestroy) {
    State& state = GetState();
    std::vector<HWND> tree, childrenFirst;
    bool topLevel = false;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowLocked(state, hwnd);
        if (!window || hwnd == state.desktop) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (!IsOwnedByCallerLocked(*window)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (window->destroying) return FALSE;
        topLevel = window->parent == nullptr;
        CollectTreeLocked(state, hwnd, &tree, &childrenFirst);
        for (HWND h : tree) FindWindowLocked(state, h)->destroying = true;
    }
    // A child disappears from its parent first, which uncovers the parent's area under it.
    // (Hidden without WM_SHOWWINDOW, as the original hides a window it destroys.)
    {
        std::lock_guard<std::mutex> lock(state.lock);
        if (Window* window = FindWindowLocked(state, hwnd)) HideWindowLocked(state, *window);
    }

    // WM_DESTROY reaches the window, then its children (parents first); WM_NCDESTROY reaches
    // each window after all its children, so that the window's own is the very last message.
    if (sendDestroy) {
        for (HWND h : tree) SendMessageA(h, WM_DESTROY, 0, 0);
    }
    for (HWND h : childrenFirst) SendMessageA(h, WM_NCDESTROY, 0, 0);

    {
        std::lock_guard<std::mutex> lock(state.lock);
        for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
            Window* window = FindWindowLocked(state, *it);
            if (!window) continue;
            ForgetWindowLocked(state, *window);
            state.windows.erase(*it);
        }
    }
    if (topLevel) {
        platform::internal::DisplayWindowDestroyed(hwnd);
        platform::internal::DiscardWindowFramebuffer(hwnd);
    }
    return TRUE;
}

BOOL DestroyWindow(HWND hwnd) {
    return DestroyWindowTree(hwnd, true);
}

BOOL IsWindow(HWND hwnd) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    return FindWindowLocked(state, hwnd) != nullptr;
}

BOOL IsWindowVisible(HWND hwnd) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    return window && IsReallyVisibleLocked(state, *window);
}

BOOL IsIconic(HWND hwnd) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    return window && window->minimized;
}

BOOL IsWindowEnabled(HWND hwnd) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    return window && !(window->style & WS_DISABLED);
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    State& state = GetState();
    bool wasDisabled;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        Window* window = FindWindowOrFailLocked(state, hwnd);
        if (!window) return FALSE;
        wasDisabled = (window->style & WS_DISABLED) != 0;
        if (wasDisabled == !enable) return wasDisabled;
        if (enable) {
            window->style &= ~static_cast<DWORD>(WS_DISABLED);
        } else {
            window->style |= WS_DISABLED;
        }
    }
    SendMessageA(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
}

BOOL IsChild(HWND parent, HWND hwnd) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    while (window && window->parent) {
        if (window->parent == parent) return TRUE;
        window = FindWindowLocked(state, window->parent);
    }
    return FALSE;
}

HWND GetParent(HWND hwnd) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowOrFailLocked(state, hwnd);
    if (!window) return nullptr;
    return window->parent;
}

HWND GetDesktopWindow() {
    return GetState().desktop;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXSCREEN:
            return kScreenWidth;
        case SM_CYSCREEN:
            return kScreenHeight;
        default:
            return 0;
    }
}

DWORD GetSysColor(int index) {
    switch (index) {
        case COLOR_BACKGROUND:
            return RGB(0, 0, 0);
        case COLOR_WINDOW:
            return RGB(255, 255, 255);
        case COLOR_WINDOWTEXT:
            return RGB(0, 0, 0);
        case COLOR_BTNFACE:
            return kButtonFace;
        case COLOR_BTNSHADOW:
            return RGB(160, 160, 160);
        case COLOR_GRAYTEXT:
            return RGB(109, 109, 109);
        case COLOR_BTNTEXT:
            return RGB(0, 0, 0);
        case COLOR_BTNHIGHLIGHT:
            return RGB(255, 255, 255);
        default:
            return RGB(0, 0, 0);
    }
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowOrFailLocked(state, hwnd);
    if (!window) return 0;
    if (processId) *processId = GetCurrentProcessId();
    return window->queue ? window->queue->threadId : 0;
}

HWND GetWindow(HWND hwnd, UINT cmd) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowOrFailLocked(state, hwnd);
    if (!window) return nullptr;
    if (cmd == GW_CHILD) {
        const std::vector<HWND>& list = hwnd == state.desktop ? state.topLevels : window->children;
        return list.empty() ? nullptr : list.front();
    }
    if (cmd == GW_OWNER) return nullptr;
    std::vector<HWND> siblings = SiblingsOf(state, *window);
    auto it = std::find(siblings.begin(), siblings.end(), hwnd);
    if (it == siblings.end()) return nullptr;
    switch (cmd) {
        case GW_HWNDFIRST:
            return siblings.front();
        case GW_HWNDLAST:
            return siblings.back();
        case GW_HWNDNEXT:
            return it + 1 == siblings.end() ? nullptr : *(it + 1);
        case GW_HWNDPREV:
            return it == siblings.begin() ? nullptr : *(it - 1);
        default:
            return nullptr;
    }
}

// ---- Window data ------------------------------------------------------------------------------

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowOrFailLocked(state, hwnd);
    if (!window) return 0;
    switch (index) {
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(window->proc);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(window->instance);
        case GWLP_HWNDPARENT:
            return reinterpret_cast<LONG_PTR>(window->parent);
        case GWLP_ID:
            return window->id;
        case GWL_STYLE:
            return static_cast<LONG_PTR>(static_cast<LONG>(window->style));
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(static_cast<LONG>(window->exStyle));
        case GWLP_USERDATA:
            return window->userData;
        default:
            SetLastError(kErrorInvalidIndex);
            return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowOrFailLocked(state, hwnd);
    if (!window) return 0;
    SetLastError(ERROR_SUCCESS);
    LONG_PTR old;
    switch (index) {
        case GWLP_WNDPROC:
            old = reinterpret_cast<LONG_PTR>(window->proc);
            window->proc = reinterpret_cast<WNDPROC>(value);
            return old;
        case GWLP_HINSTANCE:
            old = reinterpret_cast<LONG_PTR>(window->instance);
            window->instance = reinterpret_cast<HINSTANCE>(value);
            return old;
        case GWLP_ID:
            old = window->id;
            window->id = value;
            return old;
        case GWL_STYLE:
            // As on the original, a new style changes no state but the bits: no redraw.
            old = static_cast<LONG>(window->style);
            window->style = static_cast<DWORD>(value);
            return old;
        case GWL_EXSTYLE:
            old = static_cast<LONG>(window->exStyle);
            window->exStyle = static_cast<DWORD>(value);
            return old;
        case GWLP_USERDATA:
            old = window->userData;
            window->userData = value;
            return old;
        default:
            SetLastError(kErrorInvalidIndex);
            return 0;
    }
}

LONG GetWindowLongA(HWND hwnd, int index) {
    return static_cast<LONG>(GetWindowLongPtrA(hwnd, index));
}

LONG SetWindowLongA(HWND hwnd, int index, LONG value) {
    return static_cast<LONG>(SetWindowLongPtrA(hwnd, index, value));
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return static_cast<BOOL>(SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextA(HWND hwnd, LPSTR text, int maxCount) {
    if (!text || maxCount <= 0) return 0;
    text[0] = '\0';
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                         reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthA(HWND hwnd) {
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

HWND GetDlgItem(HWND dialog, int id) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowOrFailLocked(state, dialog);
    if (!window) return nullptr;
    for (HWND child : window->children) {
        if (FindWindowLocked(state, child)->id == id) return child;
    }
    return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
    return static_cast<int>(GetWindowLongPtrA(hwnd, GWLP_ID));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    char text[16];
    if (isSigned) {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    } else {
        std::snprintf(text, sizeof text, "%u", value);
    }
    return SetDlgItemTextA(dialog, id, text);
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
    if (translated) *translated = FALSE;
    HWND item = GetDlgItem(dialog, id);
    if (!item) return 0;
    char text[64];
    GetWindowTextA(item, text, sizeof text);
    char* end = nullptr;
    long long value = isSigned ? std::strtoll(text, &end, 10)
                               : static_cast<long long>(std::strtoull(text, &end, 10));
    if (end == text) return 0;
    if (translated) *translated = TRUE;
    return static_cast<UINT>(value);
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND item = GetDlgItem(dialog, id);
    return item ? SetWindowTextA(item, text) : FALSE;
}
