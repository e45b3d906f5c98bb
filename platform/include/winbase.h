// Win32 kernel: global memory, events, waitable timers, waits, threads, time conversion, last error.
// (Being written: kernel.)
#pragma once
#include "windef.h"
#include "winfile.h"
