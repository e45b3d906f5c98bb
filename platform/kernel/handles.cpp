// The handle table, CloseHandle and the wait functions.
#include <algorithm>
#include <atomic>
#include <thread>
#include <unordered_map>
#include <vector>

#include "kernel/kernel_objects.h"
#include "windows.h"

namespace platform::kernel {
namespace {

struct KernelState {
    std::mutex lock;
    std::condition_variable changed;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> handles;
};

// Never destroyed: threads may still close handles while the process exits.
KernelState& State() {
    static KernelState* state = new KernelState;
    return *state;
}

// Handle values look like the original platform's (multiples of 4) and start far above
// anything small integers or null-ish pointers could be mistaken for.
std::atomic<uintptr_t> g_nextHandle{0x10000};

}  // namespace

std::mutex& KernelLock() { return State().lock; }

void NotifyKernelChange() { State().changed.notify_all(); }

void WaitForKernelChange(std::unique_lock<std::mutex>& lock, std::optional<SteadyTime> until) {
    if (until)
        State().changed.wait_until(lock, *until);
    else
        State().changed.wait(lock);
}

uintptr_t NextHandleValue() { return g_nextHandle.fetch_add(4, std::memory_order_relaxed); }

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    const uintptr_t value = NextHandleValue();
    std::lock_guard<std::mutex> guard(KernelLock());
    State().handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandleLocked(HANDLE handle) {
    auto& handles = State().handles;
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles.end() ? nullptr : it->second;
}

}  // namespace platform::kernel

using namespace platform::kernel;

namespace {

thread_local DWORD t_lastError = NO_ERROR;

// The wait proper, over objects already resolved; called with the kernel lock held.
DWORD WaitLocked(std::unique_lock<std::mutex>& lock,
                 const std::vector<std::shared_ptr<KernelObject>>& objects, bool waitAll,
                 DWORD milliseconds) {
    std::optional<SteadyTime> deadline;
    if (milliseconds != INFINITE)
        deadline = SteadyClock::now() + std::chrono::milliseconds(milliseconds);

    for (;;) {
        const SteadyTime now = SteadyClock::now();
        for (const auto& object : objects) object->Update(now);

        if (waitAll) {
            const bool all = std::all_of(objects.begin(), objects.end(),
                                         [](const auto& o) { return o->IsSignalled(); });
            if (all) {
                for (const auto& object : objects) object->Acquire();
                return WAIT_OBJECT_0;
            }
        } else {
            for (size_t i = 0; i < objects.size(); ++i) {
                if (objects[i]->IsSignalled()) {
                    objects[i]->Acquire();
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            }
        }
        if (deadline && now >= *deadline) return WAIT_TIMEOUT;

        std::optional<SteadyTime> wake = deadline;
        for (const auto& object : objects) {
            if (auto due = object->NextDueTime()) wake = wake ? std::min(*wake, *due) : *due;
        }
        WaitForKernelChange(lock, wake);
    }
}

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

BOOL CloseHandle(HANDLE object) {
    std::shared_ptr<KernelObject> released;  // destroyed after the lock is dropped
    {
        std::lock_guard<std::mutex> guard(KernelLock());
        auto& handles = State().handles;
        auto it = handles.find(reinterpret_cast<uintptr_t>(object));
        if (it == handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        released = std::move(it->second);
        handles.erase(it);
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                             DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<KernelObject>> resolved;
    resolved.reserve(count);
    std::unique_lock<std::mutex> lock(KernelLock());
    for (DWORD i = 0; i < count; ++i) {
        auto object = LookupHandleLocked(objects[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // Waiting for all of one object twice cannot be satisfied atomically.
        if (waitAll && std::find(resolved.begin(), resolved.end(), object) != resolved.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        resolved.push_back(std::move(object));
    }
    const DWORD result = WaitLocked(lock, resolved, waitAll != FALSE, milliseconds);
    lock.unlock();
    return result;  // `resolved` may hold the last references; they go without the lock
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
