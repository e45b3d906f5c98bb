// RAII for the kernel family's handles in tests: an owning kernel handle, an owning global
// memory block and its lock, and a clock shift that puts the clock back.
#pragma once

#include <chrono>
#include <cstdint>
#include <utility>

#include "windows.h"
#if __has_include("platform/clock.h")
#include "platform/clock.h"
#define PORTRIX_TEST_LAYER_CLOCK 1
#endif

namespace portrix_test {

// Owns a kernel handle (event, waitable timer, thread) and closes it with CloseHandle.
// Pass get() where a non-owning HANDLE is wanted.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    // _beginthreadex gives its handle as an integer.
    explicit OwnedHandle(uintptr_t handle) : m_handle(reinterpret_cast<HANDLE>(handle)) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : m_handle(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    HANDLE release() { return std::exchange(m_handle, nullptr); }
    void reset(HANDLE handle = nullptr) {
        if (m_handle) CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

// Owns a global memory block and frees it with GlobalFree.
class OwnedGlobal {
public:
    OwnedGlobal() = default;
    explicit OwnedGlobal(HGLOBAL block) : m_block(block) {}
    ~OwnedGlobal() { reset(); }
    OwnedGlobal(OwnedGlobal&& other) noexcept : m_block(other.release()) {}
    OwnedGlobal& operator=(OwnedGlobal&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    OwnedGlobal(const OwnedGlobal&) = delete;
    OwnedGlobal& operator=(const OwnedGlobal&) = delete;

    HGLOBAL get() const { return m_block; }
    explicit operator bool() const { return m_block != nullptr; }
    HGLOBAL release() { return std::exchange(m_block, nullptr); }
    void reset(HGLOBAL block = nullptr) {
        if (m_block) GlobalFree(m_block);
        m_block = block;
    }

private:
    HGLOBAL m_block = nullptr;
};

// Holds one lock on a global memory block it does not own; unlocks it on the way out.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL block) : m_block(block), m_data(GlobalLock(block)) {}
    ~GlobalLockGuard() {
        if (m_data) GlobalUnlock(m_block);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

    void* data() const { return m_data; }
    template <typename T>
    T* as() const {
        return static_cast<T*>(m_data);
    }

private:
    HGLOBAL m_block;
    void* m_data;
};

#ifdef PORTRIX_TEST_LAYER_CLOCK
// Moves the layer's clock by `shift` on top of any offset in force, and restores that
// offset when it goes out of scope.
class ScopedClockShift {
public:
    explicit ScopedClockShift(std::chrono::seconds shift) : m_saved(platform::ClockOffset()) {
        platform::SetClockOffset(m_saved + shift);
    }
    ~ScopedClockShift() { platform::SetClockOffset(m_saved); }
    ScopedClockShift(const ScopedClockShift&) = delete;
    ScopedClockShift& operator=(const ScopedClockShift&) = delete;

private:
    std::chrono::seconds m_saved;
};
#endif

}  // namespace portrix_test
