// The handle table, CloseHandle and the last error.
#include <atomic>
#include <unordered_map>

#include "kernel/kernel_objects.h"
#include "windows.h"

namespace platform::kernel {
namespace {

struct KernelState {
    std::mutex lock;
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

std::mutex& KernelLock() {
    return State().lock;
}

uintptr_t NextHandleValue() {
    return g_nextHandle.fetch_add(4, std::memory_order_relaxed);
}

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

}  // namespace

DWORD GetLastError() {
    return t_lastError;
}

void SetLastError(DWORD error) {
    t_lastError = error;
}

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
