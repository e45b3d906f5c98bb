// Win32 USER: windows, messages, timers, painting, input.
// (Being written: user.)
#pragma once
#include "windef.h"
