// What the MFC subset takes from the system: on Windows the system's own headers, elsewhere
// the layer's stand-ins. The subset's headers live in a folder of their own so that, built for
// Windows, they reach the system's windows.h and not the stand-in beside which they once lay.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <windowsx.h>  // GET_X_LPARAM and GET_Y_LPARAM
#include <oleauto.h>   // DATE
// windowsx.h and winbase.h turn these names into macros, which would rename CWnd's member
// and the time classes' static members in every file that sees them.
#undef SubclassWindow
#undef GetCurrentTime
#else
#include "windef.h"
#endif
