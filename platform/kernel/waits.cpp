// The waits: wait records on the objects' wait lists, the parker each waiting thread sleeps on,
// the firing of the timers a thread waits on, WaitForSingleObject, WaitForMultipleObjects and
// Sleep.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <thread>

#include "internal/parker.h"
#include "kernel/kernel_objects.h"
#include "windows.h"

namespace platform::kernel {

using platform::internal::Parker;

namespace {

constexpr DWORD kWaitPending = 0xFFFFFFFEu;

// A thread's parker lives as long as the thread, and as long as a waker still holds it.
const std::shared_ptr<Parker>& CurrentParker() {
    thread_local const std::shared_ptr<Parker> parker = std::make_shared<Parker>();
    return parker;
}

}  // namespace

// One call of WaitForMultipleObjects, on the wait list of each of its objects while it sleeps.
// Everything in it is guarded by the kernel lock.
struct WaitRecord {
    const std::shared_ptr<KernelObject>* objects;
    DWORD count;
    bool waitAll;
    std::shared_ptr<Parker> parker;
    DWORD result = kWaitPending;  // set once, by whoever completes the wait
    // When the thread wakes by itself at the latest: its timeout or the first due time of its
    // objects, or sooner when a timer set since has asked it to look again.
    std::optional<SteadyTime> wakeBy{};
};

// The wait lists of the objects, changed only here. All with the kernel lock held.
struct WaitList {
    static void Enter(WaitRecord& record) {
        for (DWORD i = 0; i < record.count; ++i) record.objects[i]->m_waiters.push_back(&record);
    }
    static void Leave(WaitRecord& record) {
        for (DWORD i = 0; i < record.count; ++i) {
            auto& waiters = record.objects[i]->m_waiters;
            waiters.erase(std::remove(waiters.begin(), waiters.end(), &record), waiters.end());
        }
    }
    // Completes the wait when its objects allow: for any, the signalled object of lowest index;
    // for all, every object at once.
    static bool TrySatisfy(WaitRecord& record) {
        const auto* objects = record.objects;
        if (record.waitAll) {
            for (DWORD i = 0; i < record.count; ++i) {
                if (!objects[i]->IsSignalled()) return false;
            }
            for (DWORD i = 0; i < record.count; ++i) objects[i]->Acquire();
            record.result = WAIT_OBJECT_0;
            return true;
        }
        for (DWORD i = 0; i < record.count; ++i) {
            if (objects[i]->IsSignalled()) {
                objects[i]->Acquire();
                record.result = WAIT_OBJECT_0 + i;
                return true;
            }
        }
        return false;
    }
    static void Satisfy(KernelObject& object, WakeList& wakes) {
        auto& waiters = object.m_waiters;
        for (size_t i = 0; i < waiters.size() && object.IsSignalled();) {
            WaitRecord* record = waiters[i];
            if (!TrySatisfy(*record)) {
                ++i;
                continue;
            }
            Leave(*record);  // takes it off this list too, so i now names the next waiter
            wakes.push_back(record->parker);
        }
    }
    static void DueTimeMoved(KernelObject& object, SteadyTime due, WakeList& wakes) {
        for (WaitRecord* record : object.m_waiters) {
            if (record->wakeBy && *record->wakeBy <= due) continue;
            record->wakeBy = due;  // it is woken up to here already
            wakes.push_back(record->parker);
        }
    }
};

void SatisfyWaitersLocked(KernelObject& object, WakeList& wakes) {
    WaitList::Satisfy(object, wakes);
}

void DueTimeMovedLocked(KernelObject& object, SteadyTime due, WakeList& wakes) {
    WaitList::DueTimeMoved(object, due, wakes);
}

void WakeThreads(WakeList& wakes) {
    for (const auto& parker : wakes) parker->Unpark();
    wakes.clear();
}

namespace {

static_assert(MAXIMUM_WAIT_OBJECTS <= 64, "a wait's fired objects fit a 64-bit mask");

// With the kernel lock held: fires the wait's objects whose due time has come, all of them
// before any wait is completed, so that a wait for any still takes the lowest index; then
// completes the waits they satisfy.
void FireDueLocked(const WaitRecord& record, SteadyTime now, WakeList& wakes) {
    uint64_t fired = 0;
    for (DWORD i = 0; i < record.count; ++i) {
        if (record.objects[i]->FireIfDue(now)) fired |= uint64_t{1} << i;
    }
    for (DWORD i = 0; fired != 0; ++i, fired >>= 1) {
        if (fired & 1) SatisfyWaitersLocked(*record.objects[i], wakes);
    }
}

// The latest the waiting thread may sleep: its timeout or the first due time among its objects.
std::optional<SteadyTime> WakeBy(const WaitRecord& record, std::optional<SteadyTime> timeout) {
    std::optional<SteadyTime> wakeBy = timeout;
    for (DWORD i = 0; i < record.count; ++i) {
        const std::optional<SteadyTime> due = record.objects[i]->DueTime();
        if (due && (!wakeBy || *due < *wakeBy)) wakeBy = due;
    }
    return wakeBy;
}

}  // namespace

}  // namespace platform::kernel

using namespace platform::kernel;

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::optional<SteadyTime> deadline;
    if (milliseconds != INFINITE)
        deadline = SteadyClock::now() + std::chrono::milliseconds(milliseconds);

    // Declared before the lock, so that the last references, if these are they, go without it.
    std::array<std::shared_ptr<KernelObject>, MAXIMUM_WAIT_OBJECTS> resolved;
    std::unique_lock<std::mutex> lock(KernelLock());
    for (DWORD i = 0; i < count; ++i) {
        resolved[i] = LookupHandleLocked(objects[i]);
        if (!resolved[i]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // Waiting for all of one object twice cannot be satisfied atomically.
        if (waitAll && std::find(resolved.begin(), resolved.begin() + i, resolved[i]) !=
                           resolved.begin() + i) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
    }
    WaitRecord record{resolved.data(), count, waitAll != FALSE, nullptr};
    // Wakes the threads whose waits this one completed, once the lock is released.
    WakeList wakes;
    auto finish = [&](DWORD result) {
        lock.unlock();
        WakeThreads(wakes);
        return result;
    };
    FireDueLocked(record, SteadyClock::now(), wakes);
    if (WaitList::TrySatisfy(record)) return finish(record.result);
    if (milliseconds == 0) return finish(WAIT_TIMEOUT);

    record.parker = CurrentParker();
    WaitList::Enter(record);
    for (;;) {
        // A copy to sleep on: a timer set meanwhile may move the record's own.
        const std::optional<SteadyTime> wakeBy = record.wakeBy = WakeBy(record, deadline);
        lock.unlock();
        WakeThreads(wakes);
        record.parker->Park(wakeBy);
        lock.lock();
        if (record.result != kWaitPending) return finish(record.result);
        const SteadyTime now = SteadyClock::now();
        FireDueLocked(record, now, wakes);
        if (record.result != kWaitPending) {
            // Completed by a timer it fired itself: its own thread needs no wake-up.
            wakes.erase(std::remove(wakes.begin(), wakes.end(), record.parker), wakes.end());
            return finish(record.result);
        }
        if (deadline && now >= *deadline) {
            WaitList::Leave(record);
            return finish(WAIT_TIMEOUT);
        }
    }
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
