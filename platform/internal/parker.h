// Where one thread sleeps until another wakes it: a permit on a futex word. Private to the
// platform layer.
//
// Only the owning thread parks; any thread may unpark. A permit given while the owner is awake
// is kept until it parks next, so a wake-up is never lost; a permit left over from a wait that
// ended otherwise costs the owner one needless look at its condition. Unlike a condition
// variable with its mutex, a wake-up costs one system call only when the owner is asleep, and
// none afterwards.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <optional>

namespace platform::internal {

// A moment of the steady clock as a CLOCK_MONOTONIC time, which the steady clock reads.
inline timespec MonotonicTimespec(std::chrono::steady_clock::time_point moment) {
    const auto since = moment.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec result{};
    result.tv_sec = static_cast<time_t>(seconds.count());
    result.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    return result;
}

class Parker {
public:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    Parker() = default;
    Parker(const Parker&) = delete;
    Parker& operator=(const Parker&) = delete;

    // Sleeps until a permit is there or the deadline (if any) has passed. True when it took a
    // permit.
    bool Park(const Deadline& deadline) {
        if (TakePermit()) return true;
        int expected = kEmpty;
        if (!m_state.compare_exchange_strong(expected, kParked)) return TakePermit();
        for (;;) {
            const bool timedOut = Sleep(deadline);
            if (TakePermit()) return true;
            if (timedOut || (deadline && std::chrono::steady_clock::now() >= *deadline)) {
                expected = kParked;
                if (m_state.compare_exchange_strong(expected, kEmpty)) return false;
                return TakePermit();  // a permit came at the last moment
            }
        }
    }

    void Unpark() {
        if (m_state.exchange(kPermit) == kParked) {
            syscall(SYS_futex, reinterpret_cast<int*>(&m_state), FUTEX_WAKE_PRIVATE, 1, nullptr,
                    nullptr, 0);
        }
    }

private:
    static constexpr int kEmpty = 0;
    static constexpr int kPermit = 1;
    static constexpr int kParked = -1;
    static_assert(sizeof(std::atomic<int>) == sizeof(int), "the futex word is the atomic's int");

    bool TakePermit() {
        int expected = kPermit;
        return m_state.compare_exchange_strong(expected, kEmpty);
    }

    // Sleeps while the word says parked; true when the deadline passed.
    bool Sleep(const Deadline& deadline) {
        // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC time.
        const timespec until = deadline ? MonotonicTimespec(*deadline) : timespec{};
        const long result =
            syscall(SYS_futex, reinterpret_cast<int*>(&m_state), FUTEX_WAIT_BITSET_PRIVATE, kParked,
                    deadline ? &until : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
        return result != 0 && errno == ETIMEDOUT;
    }

    std::atomic<int> m_state{kEmpty};
};

}  // namespace platform::internal
