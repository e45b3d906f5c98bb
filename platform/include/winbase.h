// Win32 kernel: global memory, events, waitable timers, waits, threads, time conversion,
// last error, MulDiv.
#pragma once
#include "windef.h"

// ---- Last error (per thread) -----------------------------------------------------------------
DWORD GetLastError();
void SetLastError(DWORD error);

// ---- Global memory ---------------------------------------------------------------------------
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_NOCOMPACT 0x0010
#define GMEM_NODISCARD 0x0020
#define GMEM_ZEROINIT 0x0040
#define GMEM_MODIFY 0x0080
#define GMEM_DISCARDABLE 0x0100
#define GMEM_NOT_BANKED 0x1000
#define GMEM_SHARE 0x2000
#define GMEM_DDESHARE 0x2000
#define GMEM_NOTIFY 0x4000
#define GMEM_VALID_FLAGS 0x7F72
#define GMEM_INVALID_HANDLE 0x8000
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
// GlobalFlags results
#define GMEM_DISCARDED 0x4000
#define GMEM_LOCKCOUNT 0x00FF

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags);
LPVOID GlobalLock(HGLOBAL mem);
BOOL GlobalUnlock(HGLOBAL mem);
HGLOBAL GlobalFree(HGLOBAL mem);
SIZE_T GlobalSize(HGLOBAL mem);
UINT GlobalFlags(HGLOBAL mem);
HGLOBAL GlobalHandle(LPCVOID mem);

// ---- Kernel objects and waits ----------------------------------------------------------------
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_IO_COMPLETION 0x000000C0u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define STILL_ACTIVE 259

BOOL CloseHandle(HANDLE object);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);
void Sleep(DWORD milliseconds);

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
#define CreateEvent CreateEventA

// Completion routines run only in alertable waits, which this layer does not offer:
// SetWaitableTimer refuses one with ERROR_NOT_SUPPORTED.
typedef void(CALLBACK* PTIMERAPCROUTINE)(LPVOID argument, DWORD timerLowValue,
                                         DWORD timerHighValue);
HANDLE CreateWaitableTimerA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, LPCSTR name);
BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* dueTime, LONG periodMs,
                      PTIMERAPCROUTINE completion, LPVOID completionArgument, BOOL resume);
BOOL CancelWaitableTimer(HANDLE timer);
#define CreateWaitableTimer CreateWaitableTimerA

// ---- Threads ---------------------------------------------------------------------------------
#ifndef CREATE_SUSPENDED
#define CREATE_SUSPENDED 0x00000004
#endif
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
DWORD ResumeThread(HANDLE thread);
// Only a thread that has not started running yet can be suspended here; for a running one
// the call fails with ERROR_NOT_SUPPORTED, since POSIX cannot stop a thread from outside.
DWORD SuspendThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
[[noreturn]] void ExitThread(DWORD exitCode);

// ---- Critical sections -----------------------------------------------------------------------
// A recursive lock; the structure only points at it, so it can be copied around as in C code.
typedef struct _RTL_CRITICAL_SECTION {
    void* lock;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

// ---- Interlocked -----------------------------------------------------------------------------
LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedExchangeAdd(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);

// ---- Time ------------------------------------------------------------------------------------
// Every wall-clock time comes from the layer's one clock (platform/clock.h); local time
// follows the process's TZ.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
void GetSystemTimeAsFileTime(LPFILETIME time);
void GetSystemTime(LPSYSTEMTIME time);
void GetLocalTime(LPSYSTEMTIME time);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, LPFILETIME local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME utc);
BOOL FileTimeToSystemTime(const FILETIME* time, LPSYSTEMTIME systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME time);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

// ---- Arithmetic and debugging ----------------------------------------------------------------
int MulDiv(int number, int numerator, int denominator);
void OutputDebugStringA(LPCSTR text);
#define OutputDebugString OutputDebugStringA

#include "libloaderapi.h"
#include "winfile.h"
