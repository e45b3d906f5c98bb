// Between the Windows side's confined folders and its CFile. Private to the layer.
#pragma once
#include <windows.h>

namespace platform::win32 {

// Whether path lies below a folder given to ConfineOpensBelow.
bool IsConfined(LPCSTR path);

}  // namespace platform::win32
