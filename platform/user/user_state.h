// USER's shared state: the window table, the window classes, and one message queue per thread.
// Private to platform/user.
//
// One lock guards all of it. It is never held while a window procedure runs or while GDI is
// called (GDI calls QueryWindowPlacement under its own lock, so the two locks are never taken in
// the other order).
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "internal/parker.h"
#include "windows.h"

namespace user {

using Clock = std::chrono::steady_clock;

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
// The classic 3D face colour of dialogs and static controls.
constexpr COLORREF kButtonFace = RGB(240, 240, 240);

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HBRUSH background = nullptr;
    bool system = false;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT period;  // ms, already clamped
    TIMERPROC proc;
    Clock::time_point due;
    bool pending = false;  // one tick waits to be retrieved; later expiries add nothing
    Clock::time_point pendingSince;
};

struct ThreadQueue;

// A SendMessage call waiting for another thread to run it.
struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<ThreadQueue> sender;
};

struct ThreadQueue {
    DWORD threadId = 0;
    // Only the owning thread sleeps on it (SleepUnlocked); any thread wakes it.
    platform::internal::Parker wake;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    // No timer falls due before this (a timer's removal may leave it early), and none is
    // pending while timersMayBePending is false: retrieval looks at the timers only then.
    Clock::time_point timersDueFrom = Clock::time_point::max();
    bool timersMayBePending = false;
    // Indices of the pending timers, the one that has waited longest last, for retrievals
    // without a window filter. Rebuilt when a timer turned pending, SetTimer or KillTimer ran,
    // or the number of timers changed since.
    std::vector<size_t> pendingTimers;
    bool pendingTimersStale = true;
    size_t pendingTimersOf = 0;
    // Windows of this queue marked for painting since they last needed none, in no order.
    // An entry whose window has since been painted, validated or destroyed is dropped when the
    // queue looks for the next window to paint.
    std::vector<HWND> paintPending;
    bool quit = false;
    int quitCode = 0;
    bool alive = true;
    DWORD lastMessageTime = 0;
};

enum class ChildPolicy { kByStyle, kAll, kNone };

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<ThreadQueue> queue;  // the owner thread's; null for the desktop
    std::shared_ptr<WindowClass> windowClass;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    std::vector<HWND> children;  // z-order, topmost first
    RECT rect{};                 // screen (top-level) or parent client coordinates (child)
    std::string text;
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    HINSTANCE instance = nullptr;
    // Bounding rectangle of the invalid area, in client coordinates.
    RECT update{};
    bool hasUpdate = false;
    bool erase = false;
    bool internalPaint = false;
    bool inPaintPending = false;  // listed in its queue's paintPending
    bool destroying = false;
    bool minimized = false;    // by the window manager (a top-level window on a display)
    bool placedByHost = true;  // false while the position is CW_USEDEFAULT's
};

struct State {
    std::mutex lock;
    std::unordered_map<HWND, std::unique_ptr<Window>> windows;
    std::vector<HWND> topLevels;  // z-order, topmost first
    std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    std::unordered_map<std::string, std::shared_ptr<WindowClass>> classes;  // lower-case names
    uintptr_t nextHandle = 0x10000;
    UINT_PTR nextThreadTimerId = 0x7F00;
    HWND desktop = nullptr;
    POINT cursor{0, 0};
};

// The process's state, made on first use and never destroyed.
State& GetState();

// ---- Under the lock ---------------------------------------------------------------------------
Window* FindWindowLocked(State& state, HWND hwnd);
// The same, and ERROR_INVALID_WINDOW_HANDLE as the last error when there is no such window.
Window* FindWindowOrFailLocked(State& state, HWND hwnd);
// The calling thread's queue, made on first use.
std::shared_ptr<ThreadQueue> CurrentQueueLocked(State& state);
bool IsOwnedByCallerLocked(const Window& window);
// The window and all its ancestors are visible.
bool IsReallyVisibleLocked(State& state, const Window& window);
// The screen position of the window's client origin.
POINT ClientOriginLocked(State& state, const Window& window);
inline SIZE WindowSize(const Window& window) {
    return {window.rect.right - window.rect.left, window.rect.bottom - window.rect.top};
}
// Queues to wake once the lock is released, so that a woken thread does not at once block on
// the lock its waker still holds.
class QueueWakes {
public:
    QueueWakes() = default;
    QueueWakes(const QueueWakes&) = delete;
    QueueWakes& operator=(const QueueWakes&) = delete;
    ~QueueWakes() { WakeAll(); }

    void Add(const std::shared_ptr<ThreadQueue>& queue) {
        for (const auto& known : m_queues) {
            if (known == queue) return;
        }
        m_queues.push_back(queue);
    }
    // Without the lock.
    void WakeAll() {
        for (const auto& queue : m_queues) queue->wake.Unpark();
        m_queues.clear();
    }

private:
    std::vector<std::shared_ptr<ThreadQueue>> m_queues;
};

// Adds rect (client coordinates; null for the whole client area) to the update region and
// wakes the owner when the window needed no painting before (at once, or through wakes when
// given); children are invalidated as the policy says (kByStyle: unless the window has
// WS_CLIPCHILDREN). Nothing happens for a hidden window.
void InvalidateLocked(State& state, Window& window, const RECT* rect, bool erase,
                      ChildPolicy children, QueueWakes* wakes = nullptr);
// Lists a window that now needs painting in its queue's paintPending, once.
void MarkForPaintLocked(Window& window);
// Clears WS_VISIBLE, dropping the update regions of the window's tree; a child that was shown
// hands its area back to its parent (invalidated with erasing).
void HideWindowLocked(State& state, Window& window);
// Empties the update regions of the window and all its descendants.
void ClearUpdateTreeLocked(State& state, Window& window);

// The owner of queue sleeps, without the lock, until the queue is woken or the deadline
// (time_point::max() for none) has passed; the caller looks at its condition again after.
inline void SleepUnlocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue,
                          Clock::time_point deadline) {
    lock.unlock();
    queue.wake.Park(deadline == Clock::time_point::max()
                        ? platform::internal::Parker::Deadline()
                        : platform::internal::Parker::Deadline(deadline));
    lock.lock();
}

// ---- Without the lock -------------------------------------------------------------------------
// Calls the window's procedure directly on the calling thread; 0 when hwnd is not a window.
LRESULT CallWindowDirect(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// GetMessage with a deadline: 1 for a message, 0 for WM_QUIT, -1 when the deadline passed,
// 2 when calls sent by other threads were run (so that a pump can look at its condition).
int GetMessageUntil(MSG* msg, Clock::time_point deadline);
// Makes the predefined classes (dialog, static).
void RegisterSystemClassesLocked(State& state);

}  // namespace user
