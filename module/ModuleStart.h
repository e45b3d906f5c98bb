// Private to the module: its entry point, and the one writer of the store root.
#pragma once

#include "afxstr.h"
#include "windef.h"

// The module's entry point, called by the load hooks: reason 1 (process attach) runs the
// attach sequence, reason 0 (process detach) unregisters the module from MFC, 2 and 3 (thread
// attach and detach) do nothing. FALSE only when MFC refuses the module, which fails the load.
#ifdef _WIN32
// The C runtime's DLL start-up calls it by its C name, after the static initialisation.
extern "C"
#endif
    BOOL WINAPI
    DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace module_start {

// The store root for the attach sequence to settle; everything else reads GetStoreRoot().
CString& StoreRootForAttach();

}  // namespace module_start
