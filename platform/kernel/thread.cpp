// Threads: _beginthreadex, CreateThread, suspension before the start, exit codes, thread ids.
//
// Each thread is a detached POSIX thread that shares ownership of its kernel object with the
// handle table, so the object outlives both the thread and the handle, whichever goes first.
// A suspended thread is created at once and waits at its start gate until its suspend count
// drops to 0, so creation failures are reported by the creating call.
#include <link.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <functional>

#include "kernel/kernel_objects.h"
#include "process.h"
#include "windows.h"

using namespace platform::kernel;

namespace {

class ThreadObject final : public KernelObject {
public:
    explicit ThreadObject(DWORD suspendCount) : suspendCount(suspendCount) {}

    bool IsSignalled() const override { return finished; }

    // All guarded by the kernel lock.
    DWORD suspendCount;
    std::condition_variable resumed;  // the start gate: notified when suspendCount drops to 0
    bool running = false;             // has passed the start gate
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
};

struct StartInfo {
    std::shared_ptr<ThreadObject> object;
    std::function<DWORD()> body;
    DWORD id;
};

// Ids look like the original platform's: non-zero multiples of 4. A thread the layer did not
// start (the main thread, a std::thread) gets one on its first call.
std::atomic<DWORD> g_nextThreadId{4};
thread_local DWORD t_threadId = 0;
thread_local DWORD t_exitCode = 0;

DWORD NewThreadId() {
    return g_nextThreadId.fetch_add(4, std::memory_order_relaxed);
}

// Room for the C library's own record of a thread, and the spare static TLS it keeps, at the top
// of the thread's stack.
constexpr size_t kThreadRecordAllowance = 16 * 1024;

// What the C library puts at the top of every thread's stack: the static TLS blocks of the
// program and the libraries loaded with it, and its record of the thread. The original platform
// keeps these apart from the stack, so a thread gets the stack size it asks for on top of them.
size_t StackTakenByTheLibrary() {
    static const size_t bytes = [] {
        size_t tls = 0;
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* total) {
                for (int i = 0; i < info->dlpi_phnum; ++i) {
                    const ElfW(Phdr)& header = info->dlpi_phdr[i];
                    if (header.p_type == PT_TLS)
                        *static_cast<size_t*>(total) += header.p_memsz + header.p_align;
                }
                return 0;
            },
            &tls);
        return tls + kThreadRecordAllowance;
    }();
    return bytes;
}

// Marks the thread finished when its start routine returns or when ExitThread unwinds it.
class FinishOnExit {
public:
    explicit FinishOnExit(std::shared_ptr<ThreadObject> object) : m_object(std::move(object)) {}
    ~FinishOnExit() {
        KernelChange change;
        m_object->finished = true;
        m_object->exitCode = t_exitCode;
        change.Signalled(*m_object);
    }
    FinishOnExit(const FinishOnExit&) = delete;
    FinishOnExit& operator=(const FinishOnExit&) = delete;

private:
    std::shared_ptr<ThreadObject> m_object;
};

void* ThreadMain(void* raw) {
    std::unique_ptr<StartInfo> info(static_cast<StartInfo*>(raw));
    t_threadId = info->id;
    {
        std::unique_lock<std::mutex> lock(KernelLock());
        info->object->resumed.wait(lock, [&] { return info->object->suspendCount == 0; });
        info->object->running = true;
    }
    FinishOnExit finish(info->object);
    // No exception may leave a thread's start routine on the original platform either;
    // here one would reach the unwinder and end the process, which is the honest outcome.
    t_exitCode = info->body();
    return nullptr;
}

HANDLE StartThread(size_t stackSize, std::function<DWORD()> body, bool suspended, DWORD* threadId) {
    auto object = std::make_shared<ThreadObject>(suspended ? 1 : 0);
    auto info = std::make_unique<StartInfo>(StartInfo{object, std::move(body), NewThreadId()});
    const DWORD id = info->id;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize > 0) {
        // Round up to a page and to the system minimum, as the original platform does.
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t size = (stackSize + StackTakenByTheLibrary() + page - 1) / page * page;
        if (size < static_cast<size_t>(PTHREAD_STACK_MIN)) size = PTHREAD_STACK_MIN;
        pthread_attr_setstacksize(&attributes, size);
    }
    // The handle exists before the thread can run, so that a thread may close its own.
    HANDLE handle = InsertHandle(object);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, ThreadMain, info.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        CloseHandle(handle);
        errno = error;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    info.release();  // now owned by the thread
    if (threadId) *threadId = id;
    return handle;
}

}  // namespace

uintptr_t _beginthreadex(void*, unsigned stackSize, unsigned(__stdcall* start)(void*),
                         void* argument, unsigned initFlag, unsigned* threadId) {
    if (start == nullptr) {
        errno = EINVAL;
        return 0;
    }
    DWORD id = 0;
    HANDLE handle = StartThread(
        stackSize, [start, argument]() -> DWORD { return start(argument); },
        (initFlag & CREATE_SUSPENDED) != 0, &id);
    if (handle && threadId) *threadId = id;
    return reinterpret_cast<uintptr_t>(handle);
}

void _endthreadex(unsigned exitCode) {
    ExitThread(exitCode);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return StartThread(
        stackSize, [start, parameter]() -> DWORD { return start(parameter); },
        (creationFlags & CREATE_SUSPENDED) != 0, threadId);
}

void ExitThread(DWORD exitCode) {
    // pthread_exit unwinds the stack, so FinishOnExit in ThreadMain records the code.
    t_exitCode = exitCode;
    pthread_exit(nullptr);
}

DWORD ResumeThread(HANDLE thread) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto object = LookupLocked<ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    const DWORD previous = object->suspendCount;
    if (previous > 0 && --object->suspendCount == 0) object->resumed.notify_one();
    return previous;
}

DWORD SuspendThread(HANDLE thread) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto object = LookupLocked<ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    if (object->running || object->finished) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return static_cast<DWORD>(-1);
    }
    return object->suspendCount++;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    std::lock_guard<std::mutex> guard(KernelLock());
    auto object = LookupLocked<ThreadObject>(thread);
    if (!object || exitCode == nullptr) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = object->exitCode;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (t_threadId == 0) t_threadId = NewThreadId();
    return t_threadId;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
