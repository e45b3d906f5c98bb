// The waits: wait records on the objects' wait lists, the parker each waiting thread sleeps on,
// WaitForSingleObject, WaitForMultipleObjects and Sleep.
#include <algorithm>
#include <array>
#include <optional>
#include <thread>

#include "internal/parker.h"
#include "kernel/kernel_objects.h"
#include "windows.h"

namespace platform::kernel {

using platform_internal::Parker;

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
};

void SatisfyWaitersLocked(KernelObject& object, WakeList& wakes) { WaitList::Satisfy(object, wakes); }

void WakeThreads(WakeList& wakes) {
    for (const auto& parker : wakes) parker->Unpark();
    wakes.clear();
}

}  // namespace platform::kernel

using namespace platform::kernel;

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                             DWORD milliseconds) {
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
    if (WaitList::TrySatisfy(record)) return record.result;
    if (milliseconds == 0) return WAIT_TIMEOUT;

    record.parker = CurrentParker();
    WaitList::Enter(record);
    for (;;) {
        lock.unlock();
        record.parker->Park(deadline);
        lock.lock();
        if (record.result != kWaitPending) return record.result;
        if (deadline && SteadyClock::now() >= *deadline) {
            WaitList::Leave(record);
            return WAIT_TIMEOUT;
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
