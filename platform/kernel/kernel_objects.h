// Kernel objects of the layer: events, waitable timers and threads, reached through one
// handle table. Private to the kernel family.
//
// One mutex, the kernel lock, guards the handle table, the state of every object and every
// object's wait list. A waiting thread puts one wait record on the list of each object it waits
// for and sleeps on a parker of its own (internal/parker.h). Whoever may have made an object
// signalled (SetEvent, a timer firing, a thread ending) hands the object, under the lock, to the
// waiters on that object's list whose waits it completes, and wakes exactly those threads once
// the lock is dropped; no other thread wakes. A waiter never looks at an object again after it
// was handed the result, so no wake-up can be lost between a check and the sleep.
//
// A waitable timer has no thread of its own: a thread that waits on timers sleeps no later than
// the first of their due times, and on waking fires those that have come due, which completes
// its wait and any other wait they satisfy. A timer nobody waits on fires when a wait or a
// change next looks at it. Setting a timer wakes the threads waiting on it only when it now
// comes due before they would wake anyway.
//
// Objects are reference counted: the table holds one reference per open handle, and a waiter or
// a running thread holds its own, so closing a handle never pulls an object from under a thread
// that uses it.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "windef.h"

namespace platform::internal {
class Parker;
}

namespace platform::kernel {

using SteadyClock = std::chrono::steady_clock;
using SteadyTime = SteadyClock::time_point;

struct WaitRecord;

class KernelObject {
public:
    virtual ~KernelObject() = default;

    virtual bool IsSignalled() const = 0;
    // Called when a wait is satisfied by this object: auto-reset objects reset here.
    virtual void Acquire() {}

    // For an object that becomes signalled at a moment of its own (a waitable timer): that
    // moment, while it is pending.
    virtual std::optional<SteadyTime> DueTime() const { return std::nullopt; }
    // Becomes signalled if its moment has come by now; true when it did.
    virtual bool FireIfDue(SteadyTime /*now*/) { return false; }

private:
    friend struct WaitList;
    std::vector<WaitRecord*> m_waiters;  // oldest first; guarded by the kernel lock
};

std::mutex& KernelLock();

// The threads whose waits were completed under the kernel lock, to be woken after it.
using WakeList = std::vector<std::shared_ptr<platform::internal::Parker>>;

// With the kernel lock held, after object may have become signalled: completes the waits on it
// that it now satisfies, oldest first, and adds their threads to wakes.
void SatisfyWaitersLocked(KernelObject& object, WakeList& wakes);
// With the kernel lock held, after object's due time moved to due: adds to wakes the threads
// waiting on it that would otherwise sleep past due, so that they look again.
void DueTimeMovedLocked(KernelObject& object, SteadyTime due, WakeList& wakes);
// Without the kernel lock: wakes the threads of wakes and empties it.
void WakeThreads(WakeList& wakes);

// Holds the kernel lock for one change of object state, and wakes the threads whose waits the
// change completed once the lock is released.
class KernelChange {
public:
    KernelChange() : m_lock(KernelLock()) {}
    ~KernelChange() {
        m_lock.unlock();
        WakeThreads(m_wakes);
    }
    KernelChange(const KernelChange&) = delete;
    KernelChange& operator=(const KernelChange&) = delete;

    // After object may have become signalled.
    void Signalled(KernelObject& object) { SatisfyWaitersLocked(object, m_wakes); }
    // After object's due time moved to due.
    void DueTimeMoved(KernelObject& object, SteadyTime due) {
        DueTimeMovedLocked(object, due, m_wakes);
    }

private:
    std::unique_lock<std::mutex> m_lock;
    WakeList m_wakes;
};

// Handle table. Handles are never reused; every lookup takes KernelLock itself unless the
// name says Locked.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandleLocked(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookupLocked(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandleLocked(handle));
}

// A handle number for other tables (movable global memory) drawn from the same sequence,
// so that no global-memory handle ever equals a kernel handle.
uintptr_t NextHandleValue();

}  // namespace platform::kernel
