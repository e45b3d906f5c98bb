// MFC: extension-module registration.
//
// The process has one module state (AfxGetModuleState()). It keeps the list of run-time classes
// and the list of OLE class factories that static initialisation registers, the slots where an
// extension module's raw entry parks both lists while the module loads, and the chain of
// CDynLinkLibrary objects, one per extension module, newest first.
//
// Load order of an extension module: AfxExtensionRawEntry(DLL_PROCESS_ATTACH) moves the state's
// lists into the pending slots and empties them; static initialisation registers the module's
// classes and factories; DllMain calls AfxInitExtensionModule, which adopts what was registered
// since (the current lists) into the module's record and puts the parked lists back, then
// creates a CDynLinkLibrary for the record. At unload, AfxTermExtensionModule removes and deletes
// that CDynLinkLibrary.
//
// All of it is guarded by one lock, so modules may load on any thread.
#pragma once
#include "afxsys.h"
#include "afxwin.h"

#ifndef DLL_PROCESS_DETACH
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#endif

// A factory of OLE objects. Only the link between registered factories is kept here.
class COleObjectFactory : public CCmdTarget {
public:
    COleObjectFactory() = default;
    COleObjectFactory* m_pNextFactory = nullptr;
};

struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
    HMODULE hResource;
    CRuntimeClass* pFirstSharedClass;
    COleObjectFactory* pFirstSharedFactory;
};

class CDynLinkLibrary;

struct AFX_MODULE_STATE {
    CRuntimeClass* m_pFirstClass;         // classes registered by static initialisation
    COleObjectFactory* m_pFirstFactory;   // factories registered by static initialisation
    CRuntimeClass* m_pPendingFirstClass;  // parked by the raw entry while a module loads
    COleObjectFactory* m_pPendingFirstFactory;
    CDynLinkLibrary* m_pFirstDLL;  // the chain of extension modules, newest first
};

AFX_MODULE_STATE* AfxGetModuleState();

// Registration by static initialisation (what IMPLEMENT_DYNAMIC and factory constructors do):
// the class or factory is put at the head of the module state's list.
void AfxClassInit(CRuntimeClass* runtimeClass);
void AfxRegisterFactory(COleObjectFactory* factory);

class CDynLinkLibrary : public CCmdTarget {
public:
    // Links itself at the head of the module state's chain.
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL system = FALSE);
    // Unlinks itself.
    ~CDynLinkLibrary() override;

    HMODULE m_hModule;
    HMODULE m_hResource;
    CRuntimeClass* m_pFirstSharedClass;
    COleObjectFactory* m_pFirstSharedFactory;
    BOOL m_bSystem;
    CDynLinkLibrary* m_pNextDLL;
};

// Records hModule and the classes and factories registered since the raw entry, and puts the
// parked lists back. TRUE, also when the record was initialised before (nothing changes then).
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE module);
// Deletes the CDynLinkLibrary made for this module's record (bAll: every one in the chain).
void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL all = FALSE);

// The raw entry of an extension module: on DLL_PROCESS_ATTACH moves the module state's class and
// factory lists into the pending slots and empties them; nothing for the other reasons. TRUE.
BOOL WINAPI AfxExtensionRawEntry(HINSTANCE instance, DWORD reason, LPVOID reserved);
