// C runtime thread start: _beginthreadex and _endthreadex.
#pragma once
#include <cstdint>

#include "windef.h"

#ifndef CREATE_SUSPENDED
#define CREATE_SUSPENDED 0x00000004
#endif

// Starts a thread running start(argument). The result is the thread's handle (close it with
// CloseHandle; it is signalled once the thread ends), or 0 on failure with errno set.
// initFlag 0 runs the thread at once, CREATE_SUSPENDED holds it until ResumeThread.
uintptr_t _beginthreadex(void* security, unsigned stackSize,
                         unsigned(__stdcall* start)(void* argument), void* argument,
                         unsigned initFlag, unsigned* threadId);
// Ends the calling thread with this exit code, as if its start routine had returned it.
[[noreturn]] void _endthreadex(unsigned exitCode);
