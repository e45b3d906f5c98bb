// The library's load and unload hooks, in the order the original runtime gives an extension
// module:
//   load:   raw entry (AfxExtensionRawEntry) -> static initialisation (the store root,
//           constructed empty) -> DllMain(DLL_PROCESS_ATTACH)
//   unload: DllMain(DLL_PROCESS_DETACH) -> static clean-up (the store root destroyed) -> raw
//           entry (nothing to do)
// Three objects with rising init priorities give that order: the runtime constructs them in
// priority order and destroys them in reverse. They come before the library's other static
// objects (default priority), none of which the attach sequence uses.
//
// When DllMain refuses the attach, the failure is reported to the platform's loader, which
// unloads the library again (running DllMain with DLL_PROCESS_DETACH and the static clean-up,
// as the original does) and fails LoadLibraryA; a library loaded any other way ends the process.
//
// On Windows the C runtime's DLL start-up gives that order itself: it runs the static
// initialisation and then calls DllMain, and at unload calls DllMain before the static clean-up;
// a refused attach fails the load. Only the raw entry and the store root are objects there.
#include "ModuleStart.h"
#include "StoreRoot.h"
#include "afxdllx.h"
#ifndef _WIN32
#include "internal/module_attach.h"
#endif

#ifdef _WIN32
extern "C" IMAGE_DOS_HEADER __ImageBase;  // the linker's name for this module's load address
#endif

namespace {

HINSTANCE ThisModule() {
#ifdef _WIN32
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
#else
    return platform::internal::ModuleFromAddress(reinterpret_cast<const void*>(&ThisModule));
#endif
}

struct RawEntryHook {
    RawEntryHook() { AfxExtensionRawEntry(ThisModule(), DLL_PROCESS_ATTACH, nullptr); }
    ~RawEntryHook() { AfxExtensionRawEntry(ThisModule(), DLL_PROCESS_DETACH, nullptr); }
};

#ifndef _WIN32
struct EntryPointHook {
    EntryPointHook() {
        if (!DllMain(ThisModule(), DLL_PROCESS_ATTACH, nullptr)) {
            platform::internal::ReportModuleAttachFailure(ThisModule());
        }
    }
    ~EntryPointHook() { DllMain(ThisModule(), DLL_PROCESS_DETACH, nullptr); }
};
#endif

RawEntryHook g_rawEntry __attribute__((init_priority(101)));
CString g_storeRoot __attribute__((init_priority(102)));
#ifndef _WIN32
EntryPointHook g_entryPoint __attribute__((init_priority(103)));
#endif

}  // namespace

const CString& GetStoreRoot() {
    return g_storeRoot;
}

CString& module_start::StoreRootForAttach() {
    return g_storeRoot;
}
