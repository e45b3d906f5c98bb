// The Win32 umbrella header: base types, kernel, USER, GDI and registry.
#pragma once
#include "windef.h"
#include "winbase.h"
#include "winuser.h"
#include "wingdi.h"
#include "winreg.h"
