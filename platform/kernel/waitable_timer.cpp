// Waitable timers. A timer keeps its due time and is fired by the threads that wait on it, which
// sleep no later than that time (waits.cpp), or by whoever next looks at it once the time has
// passed: a wait on it, setting it again, cancelling it.
#include <algorithm>
#include <optional>

#include "kernel/kernel_objects.h"
#include "platform/clock.h"
#include "windows.h"

using namespace platform::kernel;

namespace {

class WaitableTimer final : public KernelObject {
public:
    explicit WaitableTimer(bool manualReset) : m_manualReset(manualReset) {}

    bool IsSignalled() const override { return m_signalled; }
    void Acquire() override {
        if (!m_manualReset) m_signalled = false;
    }
    std::optional<SteadyTime> DueTime() const override { return m_due; }

    bool FireIfDue(SteadyTime now) override {
        if (!m_due || *m_due > now) return false;
        m_signalled = true;
        if (m_period.count() <= 0) {
            m_due.reset();
        } else {
            // A periodic timer that fell behind skips the periods it missed, however many
            // passed while nobody looked.
            *m_due += m_period * ((now - *m_due) / m_period + 1);
        }
        return true;
    }

    // Setting a timer cancels what it was doing and resets it, as on the original platform.
    void Arm(SteadyTime due, std::chrono::milliseconds period) {
        m_signalled = false;
        m_due = due;
        m_period = period;
    }
    void Cancel() { m_due.reset(); }

private:
    const bool m_manualReset;
    bool m_signalled = false;
    std::optional<SteadyTime> m_due;
    std::chrono::milliseconds m_period{0};
};

// Before a change to the timer: fires it if its time has come unseen, so that the waits it
// satisfied then are completed rather than lost to the change.
void CatchUp(WaitableTimer& timer, SteadyTime now, KernelChange& change) {
    if (timer.FireIfDue(now)) change.Signalled(timer);
}

// Turns a due time into a steady moment. Negative: relative, in 100 ns units. Otherwise an
// absolute UTC FILETIME, read against the layer's clock when the timer is set; one in the
// past is due at once. (A later move of the clock does not move a timer already set.)
SteadyTime DueMoment(LONGLONG dueTime) {
    // Due times beyond a century are held at a century: that keeps the steady arithmetic
    // (nanoseconds in 64 bits) clear of overflow and changes nothing anyone can observe.
    constexpr int64_t kCenturyInHundreds = 100LL * 365 * 24 * 3600 * 10'000'000;
    const SteadyTime now = SteadyClock::now();
    int64_t ahead;
    if (dueTime < 0)
        ahead = dueTime < -kCenturyInHundreds ? kCenturyInHundreds : -dueTime;
    else
        ahead = std::min<int64_t>(dueTime - platform::ClockNowFileTime(), kCenturyInHundreds);
    if (ahead <= 0) return now;
    return now + std::chrono::nanoseconds(ahead * 100);
}

}  // namespace

HANDLE CreateWaitableTimerA(LPSECURITY_ATTRIBUTES, BOOL manualReset, LPCSTR) {
    HANDLE timer = InsertHandle(std::make_shared<WaitableTimer>(manualReset != FALSE));
    if (timer) SetLastError(NO_ERROR);  // as CreateEventA
    return timer;
}

BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* dueTime, LONG periodMs,
                      PTIMERAPCROUTINE completion, LPVOID, BOOL) {
    if (dueTime == nullptr || periodMs < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (completion != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const SteadyTime due = DueMoment(dueTime->QuadPart);
    KernelChange change;
    auto object = LookupLocked<WaitableTimer>(timer);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const SteadyTime now = SteadyClock::now();
    CatchUp(*object, now, change);
    object->Arm(due, std::chrono::milliseconds(periodMs));
    if (object->FireIfDue(now))
        change.Signalled(*object);
    else
        change.DueTimeMoved(*object, due);
    return TRUE;
}

BOOL CancelWaitableTimer(HANDLE timer) {
    KernelChange change;
    auto object = LookupLocked<WaitableTimer>(timer);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    CatchUp(*object, SteadyClock::now(), change);
    // Wakes nobody: a waiter that would have woken for it finds nothing due and sleeps on.
    object->Cancel();
    return TRUE;
}
