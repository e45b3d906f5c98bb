// Per-thread message queues: posting, sending, retrieval, dispatch and window timers.
#include <algorithm>

#include "user/user_state.h"

namespace user {
namespace {

constexpr DWORD kErrorInvalidThreadId = 1444;  // ERROR_INVALID_THREAD_ID
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(-1);

// Ends the thread's queue with the thread: senders waiting on it are released with 0.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (!queue) return;
        State& state = GetState();
        std::lock_guard<std::mutex> lock(state.lock);
        queue->alive = false;
        for (auto& sent : queue->sent) {
            sent->done = true;
            sent->sender->wake.Unpark();
        }
        queue->sent.clear();
        queue->timers.clear();
        queue->posted.clear();
        auto it = state.queues.find(queue->threadId);
        if (it != state.queues.end() && it->second == queue) state.queues.erase(it);
    }
};
thread_local QueueHolder t_queue;

bool InRange(UINT message, UINT filterMin, UINT filterMax) {
    if (filterMin == 0 && filterMax == 0) return true;
    return message >= filterMin && message <= filterMax;
}

bool MatchesWindowLocked(State& state, HWND hwnd, HWND filter) {
    if (!filter) return true;
    if (filter == kThreadMessagesOnly) return hwnd == nullptr;
    for (Window* w = FindWindowLocked(state, hwnd); w; w = FindWindowLocked(state, w->parent)) {
        if (w->handle == filter) return true;
    }
    return false;
}

bool NeedsPaint(const Window& window) {
    return window.hasUpdate || window.internalPaint;
}

// The window of the queue to paint next: of those that need painting, are shown and pass the
// filter, the first in a walk of the window tree (top-level windows and then each window's
// children in z-order, topmost first, a parent before its children). Only the queue's paint
// list is looked at, and the walk goes down only into subtrees that hold one of its windows.
HWND FindPaintLocked(State& state, ThreadQueue& queue, HWND filter) {
    std::vector<HWND> candidates;
    auto& pending = queue.paintPending;
    for (size_t i = 0; i < pending.size();) {
        Window* window = FindWindowLocked(state, pending[i]);
        if (window == nullptr || !NeedsPaint(*window)) {
            if (window != nullptr) window->inPaintPending = false;
            pending[i] = pending.back();
            pending.pop_back();
            continue;
        }
        if (IsReallyVisibleLocked(state, *window) && MatchesWindowLocked(state, pending[i], filter))
            candidates.push_back(pending[i]);
        ++i;
    }
    if (candidates.size() <= 1) return candidates.empty() ? nullptr : candidates.front();

    // The candidates and all their ancestors, sorted for lookup.
    std::vector<HWND> marked;
    for (HWND hwnd : candidates) {
        for (Window* w = FindWindowLocked(state, hwnd); w; w = FindWindowLocked(state, w->parent))
            marked.push_back(w->handle);
    }
    std::sort(marked.begin(), marked.end());
    std::sort(candidates.begin(), candidates.end());
    auto contains = [](const std::vector<HWND>& sorted, HWND hwnd) {
        return std::binary_search(sorted.begin(), sorted.end(), hwnd);
    };
    const std::vector<HWND>* level = &state.topLevels;
    for (;;) {
        auto next = std::find_if(level->begin(), level->end(),
                                 [&](HWND hwnd) { return contains(marked, hwnd); });
        if (next == level->end()) return nullptr;
        if (contains(candidates, *next)) return *next;
        level = &FindWindowLocked(state, *next)->children;
    }
}

// Marks expired timers pending (once, however late) and schedules their next expiry.
void ExpireTimersLocked(ThreadQueue& queue, Clock::time_point now) {
    if (now < queue.timersDueFrom) return;
    Clock::time_point dueFrom = Clock::time_point::max();
    for (Timer& timer : queue.timers) {
        if (now >= timer.due) {
            if (!timer.pending) {
                timer.pending = true;
                timer.pendingSince = timer.due;
                queue.timersMayBePending = true;
                queue.pendingTimersStale = true;
            }
            auto period = std::chrono::milliseconds(timer.period);
            timer.due += period;
            if (timer.due <= now) timer.due = now + period;
        }
        dueFrom = std::min(dueFrom, timer.due);
    }
    queue.timersDueFrom = dueFrom;
}

// The pending timer that has waited longest (the first of equals), from the queue's ordered
// list, which a dialog of many timers would otherwise pay for with a walk of all per message.
Timer* OldestPendingTimerLocked(ThreadQueue& queue) {
    std::vector<size_t>& order = queue.pendingTimers;
    std::vector<Timer>& timers = queue.timers;
    if (queue.pendingTimersStale || queue.pendingTimersOf != timers.size()) {
        order.clear();
        for (size_t i = 0; i < timers.size(); ++i) {
            if (timers[i].pending) order.push_back(i);
        }
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const Clock::time_point since = timers[a].pendingSince;
            return since != timers[b].pendingSince ? timers[b].pendingSince < since : b < a;
        });
        queue.pendingTimersStale = false;
        queue.pendingTimersOf = timers.size();
    }
    while (!order.empty() && !timers[order.back()].pending) order.pop_back();
    if (order.empty()) {
        queue.timersMayBePending = false;
        return nullptr;
    }
    return &timers[order.back()];
}

// The pending timer that passes the filter and has waited longest, or null.
Timer* OldestPendingTimerLocked(State& state, ThreadQueue& queue, HWND filter) {
    if (!queue.timersMayBePending) return nullptr;
    if (filter == nullptr) return OldestPendingTimerLocked(queue);
    Timer* best = nullptr;
    bool anyPending = false;
    for (Timer& timer : queue.timers) {
        if (!timer.pending) continue;
        anyPending = true;
        if ((!best || timer.pendingSince < best->pendingSince) &&
            MatchesWindowLocked(state, timer.hwnd, filter)) {
            best = &timer;
        }
    }
    queue.timersMayBePending = anyPending;
    return best;
}

DWORD NowTicks() {
    return GetTickCount();
}

// Runs the calls other threads sent to this one. True when there was any.
bool RunSentLocked(State& state, ThreadQueue& queue, std::unique_lock<std::mutex>& lock) {
    bool ran = !queue.sent.empty();
    while (!queue.sent.empty()) {
        std::shared_ptr<SentMessage> sent = queue.sent.front();
        queue.sent.pop_front();
        lock.unlock();
        LRESULT result = CallWindowDirect(sent->hwnd, sent->message, sent->wParam, sent->lParam);
        lock.lock();
        sent->result = result;
        sent->done = true;
        sent->sender->wake.Unpark();
    }
    (void)state;
    return ran;
}

// One step of GetMessage/PeekMessage. The lock is held on entry and on return.
bool RetrieveLocked(State& state, ThreadQueue& queue, std::unique_lock<std::mutex>& lock, MSG* msg,
                    HWND filter, UINT filterMin, UINT filterMax, bool remove) {
    RunSentLocked(state, queue, lock);

    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (InRange(it->message, filterMin, filterMax) &&
            MatchesWindowLocked(state, it->hwnd, filter)) {
            *msg = *it;
            if (remove) queue.posted.erase(it);
            queue.lastMessageTime = msg->time;
            return true;
        }
    }

    if (queue.quit) {
        *msg =
            MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, NowTicks(), state.cursor};
        if (remove) queue.quit = false;
        return true;
    }

    if (InRange(WM_PAINT, filterMin, filterMax)) {
        if (HWND hwnd = FindPaintLocked(state, queue, filter)) {
            *msg = MSG{hwnd, WM_PAINT, 0, 0, NowTicks(), state.cursor};
            return true;
        }
    }

    // Expiring every timer, even one the filter skips, keeps the next wake-up in the future.
    ExpireTimersLocked(queue, Clock::now());
    if (InRange(WM_TIMER, filterMin, filterMax)) {
        if (Timer* best = OldestPendingTimerLocked(state, queue, filter)) {
            *msg = MSG{best->hwnd, WM_TIMER,    best->id, reinterpret_cast<LPARAM>(best->proc),
                       NowTicks(), state.cursor};
            if (remove) best->pending = false;
            return true;
        }
    }
    return false;
}

// Timers wake their thread on a grid of this step, so that the many timers of a dialog that
// fall due within one step cost one wake-up between them instead of one each (the original
// platform coalesces too, on its 15.6 ms clock). A timer fires at most this much later than
// due; its period, counted from its due times, stays exact, and periods that are multiples of
// the step (10 ms, 50 ms) fire at even intervals.
constexpr Clock::duration kTimerWakeStep = std::chrono::milliseconds(5);

Clock::time_point NextTimerLocked(const ThreadQueue& queue) {
    const Clock::time_point next = queue.timersDueFrom;
    if (next == Clock::time_point::max()) return next;
    const auto steps =
        (next.time_since_epoch() + kTimerWakeStep - Clock::duration(1)) / kTimerWakeStep;
    return Clock::time_point(steps * kTimerWakeStep);
}

// Retrieves a message, waiting until the deadline. 1 message, 0 WM_QUIT, -1 deadline passed,
// 2 (only when stopAfterSent) calls sent by other threads were run and nothing else came.
int WaitForMessage(MSG* msg, HWND filter, UINT filterMin, UINT filterMax,
                   Clock::time_point deadline, bool stopAfterSent = false) {
    State& state = GetState();
    std::unique_lock<std::mutex> lock(state.lock);
    std::shared_ptr<ThreadQueue> queue = CurrentQueueLocked(state);
    for (;;) {
        if (stopAfterSent && RunSentLocked(state, *queue, lock)) return 2;
        if (RetrieveLocked(state, *queue, lock, msg, filter, filterMin, filterMax, true)) {
            return msg->message == WM_QUIT ? 0 : 1;
        }
        Clock::time_point wakeAt = std::min(deadline, NextTimerLocked(*queue));
        if (Clock::now() >= deadline) return -1;
        SleepUnlocked(lock, *queue, wakeAt);
    }
}

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueueLocked(State& state) {
    if (!t_queue.queue) {
        auto queue = std::make_shared<ThreadQueue>();
        queue->threadId = GetCurrentThreadId();
        state.queues[queue->threadId] = queue;
        t_queue.queue = queue;
    }
    return t_queue.queue;
}

bool IsOwnedByCallerLocked(const Window& window) {
    return window.queue && window.queue == t_queue.queue;
}

int GetMessageUntil(MSG* msg, Clock::time_point deadline) {
    return WaitForMessage(msg, nullptr, 0, 0, deadline, true);
}

}  // namespace user

using namespace user;

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hwnd) return PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam);
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    Window* window = FindWindowLocked(state, hwnd);
    if (!window || !window->queue || !window->queue->alive) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    window->queue->posted.push_back(
        MSG{hwnd, message, wParam, lParam, GetTickCount(), state.cursor});
    window->queue->wake.Unpark();
    return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    std::shared_ptr<ThreadQueue> queue;
    if (threadId == GetCurrentThreadId()) {
        queue = CurrentQueueLocked(state);
    } else {
        auto it = state.queues.find(threadId);
        if (it != state.queues.end() && it->second->alive) queue = it->second;
    }
    if (!queue) {
        SetLastError(kErrorInvalidThreadId);
        return FALSE;
    }
    queue->posted.push_back(MSG{nullptr, message, wParam, lParam, GetTickCount(), state.cursor});
    queue->wake.Unpark();
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    std::shared_ptr<ThreadQueue> queue = CurrentQueueLocked(state);
    queue->quit = true;
    queue->quitCode = exitCode;
    queue->wake.Unpark();
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    State& state = GetState();
    std::unique_lock<std::mutex> lock(state.lock);
    Window* window = FindWindowOrFailLocked(state, hwnd);
    if (!window) return 0;
    std::shared_ptr<ThreadQueue> own = CurrentQueueLocked(state);
    if (!window->queue || window->queue == own) {
        WNDPROC proc = window->proc;
        lock.unlock();
        return proc ? proc(hwnd, message, wParam, lParam) : 0;
    }
    std::shared_ptr<ThreadQueue> target = window->queue;
    if (!target->alive) return 0;
    auto sent = std::make_shared<SentMessage>();
    sent->hwnd = hwnd;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    sent->sender = own;
    target->sent.push_back(sent);
    target->wake.Unpark();
    // While waiting, run what other threads send to this one, so two threads sending to each
    // other do not deadlock.
    while (!sent->done) {
        if (!own->sent.empty()) {
            RunSentLocked(state, *own, lock);
            continue;
        }
        SleepUnlocked(lock, *own, Clock::time_point::max());
    }
    return sent->result;
}

BOOL GetMessageA(LPMSG msg, HWND filter, UINT filterMin, UINT filterMax) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (filter && filter != reinterpret_cast<HWND>(-1) && !IsWindow(filter)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    return WaitForMessage(msg, filter, filterMin, filterMax, Clock::time_point::max());
}

BOOL PeekMessageA(LPMSG msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeMsg) {
    if (!msg) return FALSE;
    State& state = GetState();
    std::unique_lock<std::mutex> lock(state.lock);
    std::shared_ptr<ThreadQueue> queue = CurrentQueueLocked(state);
    return RetrieveLocked(state, *queue, lock, msg, filter, filterMin, filterMax,
                          (removeMsg & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL WaitMessage() {
    State& state = GetState();
    std::unique_lock<std::mutex> lock(state.lock);
    std::shared_ptr<ThreadQueue> queue = CurrentQueueLocked(state);
    MSG msg;
    if (!RetrieveLocked(state, *queue, lock, &msg, nullptr, 0, 0, false)) {
        SleepUnlocked(lock, *queue, NextTimerLocked(*queue));
    }
    return TRUE;
}

DWORD GetMessageTime() {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    return CurrentQueueLocked(state)->lastMessageTime;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    if (!msg->hwnd) return 0;
    return CallWindowDirect(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT GetDoubleClickTime() {
    constexpr UINT kDoubleClickMs = 500;  // the original's default
    return kDoubleClickMs;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

// ---- Timers -----------------------------------------------------------------------------------

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    std::shared_ptr<ThreadQueue> queue;
    if (hwnd) {
        Window* window = FindWindowLocked(state, hwnd);
        if (!window || !window->queue || window->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        queue = window->queue;
    } else {
        queue = CurrentQueueLocked(state);
    }
    UINT period = std::min<UINT>(std::max<UINT>(elapse, USER_TIMER_MINIMUM), USER_TIMER_MAXIMUM);
    auto& timers = queue->timers;
    auto existing = std::find_if(timers.begin(), timers.end(),
                                 [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (!hwnd && existing == timers.end()) id = state.nextThreadTimerId++;
    Timer timer{hwnd,  id, period, proc, Clock::now() + std::chrono::milliseconds(period),
                false, {}};
    // The same id replaces the running timer: new period, counted from now, no tick pending.
    if (existing != timers.end()) {
        *existing = timer;
    } else {
        timers.push_back(timer);
    }
    queue->timersDueFrom = std::min(queue->timersDueFrom, timer.due);
    queue->pendingTimersStale = true;
    queue->wake.Unpark();
    return id != 0 ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    State& state = GetState();
    std::lock_guard<std::mutex> lock(state.lock);
    std::shared_ptr<ThreadQueue> queue;
    if (hwnd) {
        Window* window = FindWindowLocked(state, hwnd);
        if (!window || !window->queue) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = window->queue;
    } else {
        queue = CurrentQueueLocked(state);
    }
    auto& timers = queue->timers;
    auto it = std::find_if(timers.begin(), timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    queue->pendingTimersStale = true;
    return TRUE;
}
