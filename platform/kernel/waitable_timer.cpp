// Waitable timers, fired by one timer thread that sleeps until the earliest due time of a heap.
// A timer is set by adding an entry to the heap; a timer that is set again or cancelled leaves
// its old entry behind, which the thread drops when it comes up, and which is swept out when
// such entries come to outnumber the others.
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>

#include "internal/parker.h"
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

    // Setting a timer cancels what it was doing and resets it, as on the original platform.
    // Returns the number of this setting, which the heap entry carries.
    uint64_t Arm(SteadyTime due, std::chrono::milliseconds period) {
        m_signalled = false;
        m_due = due;
        m_period = period;
        return ++m_setting;
    }
    void Cancel() {
        m_due.reset();
        ++m_setting;
    }
    // A heap entry of this setting still stands for the timer.
    bool Pending(uint64_t setting) const { return setting == m_setting && m_due.has_value(); }

    // The due time of an entry of the given setting has come: signals the timer, and gives the
    // next due time of a periodic one. Nothing for an entry that is out of date.
    std::optional<SteadyTime> Fire(uint64_t setting, SteadyTime now) {
        if (!Pending(setting)) return std::nullopt;
        m_signalled = true;
        if (m_period.count() <= 0) {
            m_due.reset();
            return std::nullopt;
        }
        // A periodic timer that fell behind skips the periods it missed.
        while (*m_due <= now) *m_due += m_period;
        return m_due;
    }

private:
    const bool m_manualReset;
    bool m_signalled = false;
    std::optional<SteadyTime> m_due;
    std::chrono::milliseconds m_period{0};
    uint64_t m_setting = 0;
};

// The timers' due times and the thread that fires them; all guarded by the kernel lock. The
// thread sleeps on an alarm (a timerfd) set to the first due time, so setting a timer never
// wakes it: a timer that comes due first only moves the alarm.
class TimerQueue {
public:
    // Fires the timer at once when due has come, else queues it. False when there is no timer
    // thread and none can start.
    bool Schedule(const std::shared_ptr<WaitableTimer>& timer, uint64_t setting, SteadyTime due,
                  KernelChange& change) {
        const SteadyTime now = SteadyClock::now();
        if (due <= now) {
            const std::optional<SteadyTime> next = timer->Fire(setting, now);
            change.Signalled(*timer);
            if (!next) return true;
            due = *next;
        }
        if (!Start()) return false;
        const bool first = m_heap.empty() || due < m_heap.front().due;
        Push(Entry{due, setting, timer});
        if (first) SetAlarm(due);
        return true;
    }

    // Never destroyed: the timer thread runs until the process ends.
    static TimerQueue& Get() {
        static TimerQueue* queue = new TimerQueue;
        return *queue;
    }

private:
    struct Entry {
        SteadyTime due;
        uint64_t setting;
        std::weak_ptr<WaitableTimer> timer;  // a closed timer is not kept alive by its entry
        bool operator>(const Entry& other) const { return due > other.due; }
    };
    // Heap entries are so many more than pending timers that a sweep is worth it; and never
    // fewer than this.
    static constexpr size_t kSweepRatio = 2;
    static constexpr size_t kSweepAbove = 64;

    // m_heap is a min-heap on the due time.
    void Push(Entry entry) {
        m_heap.push_back(std::move(entry));
        std::push_heap(m_heap.begin(), m_heap.end(), std::greater<Entry>());
        if (m_heap.size() > kSweepAbove && m_heap.size() > kSweepRatio * m_pendingAtSweep) Sweep();
    }
    Entry Pop() {
        std::pop_heap(m_heap.begin(), m_heap.end(), std::greater<Entry>());
        Entry entry = std::move(m_heap.back());
        m_heap.pop_back();
        return entry;
    }
    // Drops the entries of timers closed, set again or cancelled since.
    void Sweep() {
        m_heap.erase(std::remove_if(m_heap.begin(), m_heap.end(),
                                    [](const Entry& entry) {
                                        auto timer = entry.timer.lock();
                                        return !timer || !timer->Pending(entry.setting);
                                    }),
                     m_heap.end());
        std::make_heap(m_heap.begin(), m_heap.end(), std::greater<Entry>());
        m_pendingAtSweep = m_heap.size();
    }

    // The alarm and the thread, the first time a timer is queued.
    bool Start() {
        if (m_alarm >= 0) return true;
        m_alarm = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        if (m_alarm < 0) return false;
        try {
            std::thread([this] { Run(); }).detach();
        } catch (const std::system_error&) {
            close(m_alarm);
            m_alarm = -1;
            return false;
        }
        return true;
    }

    // Sets the alarm to go off at the moment, or stops it.
    void SetAlarm(std::optional<SteadyTime> moment) {
        itimerspec alarm{};
        if (moment) {
            alarm.it_value = platform_internal::MonotonicTimespec(*moment);
            // An all-zero time would stop the alarm instead; anything in the past goes off at once.
            if (alarm.it_value.tv_sec == 0 && alarm.it_value.tv_nsec == 0) alarm.it_value.tv_nsec = 1;
        }
        timerfd_settime(m_alarm, TFD_TIMER_ABSTIME, &alarm, nullptr);
    }

    void Run() {
        WakeList wakes;
        for (;;) {
            uint64_t expirations = 0;
            // Returns when the alarm has gone off (or on a signal, which costs one look).
            if (read(m_alarm, &expirations, sizeof expirations) < 0 && errno != EINTR) return;
            {
                std::lock_guard<std::mutex> guard(KernelLock());
                const SteadyTime now = SteadyClock::now();
                while (!m_heap.empty() && m_heap.front().due <= now) {
                    Entry entry = Pop();
                    std::shared_ptr<WaitableTimer> timer = entry.timer.lock();
                    if (!timer) continue;
                    const std::optional<SteadyTime> next = timer->Fire(entry.setting, now);
                    SatisfyWaitersLocked(*timer, wakes);
                    if (next) Push(Entry{*next, entry.setting, timer});
                }
                SetAlarm(m_heap.empty() ? std::nullopt
                                        : std::optional<SteadyTime>(m_heap.front().due));
            }
            WakeThreads(wakes);
        }
    }

    std::vector<Entry> m_heap;
    size_t m_pendingAtSweep = 0;  // entries left by the last sweep
    int m_alarm = -1;             // the timerfd the timer thread sleeps on
};

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
    const uint64_t setting = object->Arm(due, std::chrono::milliseconds(periodMs));
    if (!TimerQueue::Get().Schedule(object, setting, due, change)) {
        object->Cancel();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

BOOL CancelWaitableTimer(HANDLE timer) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto object = LookupLocked<WaitableTimer>(timer);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Cancel();
    return TRUE;
}
