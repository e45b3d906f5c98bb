// Win32 GDI: device contexts, bitmaps, BitBlt.
// (Being written: gdi.)
#pragma once
#include "windef.h"
