// Events and critical sections.
#include <mutex>

#include "kernel/kernel_objects.h"
#include "windows.h"

using namespace platform::kernel;

namespace {

class Event final : public KernelObject {
public:
    Event(bool manualReset, bool signalled) : m_manualReset(manualReset), m_signalled(signalled) {}

    bool IsSignalled() const override { return m_signalled; }
    void Acquire() override {
        if (!m_manualReset) m_signalled = false;
    }
    void Set(bool signalled) { m_signalled = signalled; }

private:
    const bool m_manualReset;
    bool m_signalled;
};

BOOL SetEventState(HANDLE handle, bool signalled) {
    KernelChange change;
    auto event = LookupLocked<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Set(signalled);
    if (signalled) change.Signalled(*event);
    return TRUE;
}

}  // namespace

// Named objects would be shared between processes on the original platform; the product
// never names one, so a name is accepted and ignored.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    HANDLE event =
        InsertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
    if (event) SetLastError(NO_ERROR);  // names are not shared, so none ever existed before
    return event;
}

BOOL SetEvent(HANDLE event) {
    return SetEventState(event, true);
}

BOOL ResetEvent(HANDLE event) {
    return SetEventState(event, false);
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->lock = new std::recursive_mutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->lock);
    section->lock = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->lock)->lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    return static_cast<std::recursive_mutex*>(section->lock)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->lock)->unlock();
}

LONG InterlockedIncrement(LONG volatile* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchangeAdd(LONG volatile* target, LONG value) {
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}
