// The seam between USER and MFC's window creation (CWnd::CreateEx). Private to the platform.
//
// MFC must route a window's messages through its own window procedure from the very first
// message (WM_NCCREATE). The original does it with a CBT hook; here CreateWindowExA calls the
// calling thread's one-shot creation hook, when one is set, once the window exists and before
// it sends any message. The hook is cleared before it is called, so windows that the hook or
// the creation messages create in turn are not caught by it.
#pragma once

#include "windef.h"

namespace platform::internal {

typedef void (*CreateWindowHook)(HWND hwnd, void* context);
// Sets (or with null clears) the calling thread's hook for its next CreateWindowExA.
void SetCreateWindowHook(CreateWindowHook hook, void* context);

}  // namespace platform::internal
