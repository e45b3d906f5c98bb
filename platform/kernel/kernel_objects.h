// Kernel objects of the layer: events, waitable timers and threads, reached through one
// handle table. Private to the kernel family.
//
// One mutex guards the table and the state of every object, and one condition variable is
// broadcast whenever an object may have become signalled. Waiters sleep on it with a deadline
// that is the earlier of their timeout and the next due time of the timers they wait on, so
// nothing polls. Objects are reference counted: the table holds one reference per open handle,
// and a waiter or a running thread holds its own, so closing a handle never pulls an object
// from under a thread that uses it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "windef.h"

namespace platform::kernel {

using SteadyClock = std::chrono::steady_clock;
using SteadyTime = SteadyClock::time_point;

class KernelObject {
public:
    virtual ~KernelObject() = default;

    // Brings time-driven state up to date (timers); called with the kernel lock held.
    virtual void Update(SteadyTime /*now*/) {}
    virtual bool IsSignalled() const = 0;
    // Called when a wait is satisfied by this object: auto-reset objects reset here.
    virtual void Acquire() {}
    // The moment at which this object will become signalled by itself, if any.
    virtual std::optional<SteadyTime> NextDueTime() const { return std::nullopt; }
};

// The lock over the handle table and all object state, and the condition it broadcasts.
std::mutex& KernelLock();
void NotifyKernelChange();  // call with KernelLock held, after changing a signalled state
void WaitForKernelChange(std::unique_lock<std::mutex>& lock, std::optional<SteadyTime> until);

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
