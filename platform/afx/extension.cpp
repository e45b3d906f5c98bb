// Extension-module registration: the module state, CDynLinkLibrary and the raw entry.
#include <mutex>
#include <vector>

#include "afxdllx.h"

namespace {

std::mutex& ModuleLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

AFX_MODULE_STATE g_moduleState{};

}  // namespace

AFX_MODULE_STATE* AfxGetModuleState() {
    return &g_moduleState;
}

void AfxClassInit(CRuntimeClass* runtimeClass) {
    if (!runtimeClass) return;
    std::lock_guard<std::mutex> lock(ModuleLock());
    runtimeClass->m_pNextClass = g_moduleState.m_pFirstClass;
    g_moduleState.m_pFirstClass = runtimeClass;
}

void AfxRegisterFactory(COleObjectFactory* factory) {
    if (!factory) return;
    std::lock_guard<std::mutex> lock(ModuleLock());
    factory->m_pNextFactory = g_moduleState.m_pFirstFactory;
    g_moduleState.m_pFirstFactory = factory;
}

BOOL WINAPI AfxExtensionRawEntry(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        std::lock_guard<std::mutex> lock(ModuleLock());
        g_moduleState.m_pPendingFirstClass = g_moduleState.m_pFirstClass;
        g_moduleState.m_pPendingFirstFactory = g_moduleState.m_pFirstFactory;
        g_moduleState.m_pFirstClass = nullptr;
        g_moduleState.m_pFirstFactory = nullptr;
    }
    return TRUE;
}

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE module) {
    if (state.bInitialized) return TRUE;
    std::lock_guard<std::mutex> lock(ModuleLock());
    state.bInitialized = TRUE;
    state.hModule = module;
    state.hResource = module;
    // What static initialisation registered since the raw entry belongs to this module; the
    // lists parked by the raw entry become the process's lists again.
    state.pFirstSharedClass = g_moduleState.m_pFirstClass;
    state.pFirstSharedFactory = g_moduleState.m_pFirstFactory;
    g_moduleState.m_pFirstClass = g_moduleState.m_pPendingFirstClass;
    g_moduleState.m_pFirstFactory = g_moduleState.m_pPendingFirstFactory;
    g_moduleState.m_pPendingFirstClass = nullptr;
    g_moduleState.m_pPendingFirstFactory = nullptr;
    return TRUE;
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL system)
    : m_hModule(state.hModule),
      m_hResource(state.hResource),
      m_pFirstSharedClass(state.pFirstSharedClass),
      m_pFirstSharedFactory(state.pFirstSharedFactory),
      m_bSystem(system),
      m_pNextDLL(nullptr) {
    std::lock_guard<std::mutex> lock(ModuleLock());
    m_pNextDLL = g_moduleState.m_pFirstDLL;
    g_moduleState.m_pFirstDLL = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    std::lock_guard<std::mutex> lock(ModuleLock());
    for (CDynLinkLibrary** link = &g_moduleState.m_pFirstDLL; *link; link = &(*link)->m_pNextDLL) {
        if (*link == this) {
            *link = m_pNextDLL;
            break;
        }
    }
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL all) {
    if (!state.bInitialized) return;
    std::vector<CDynLinkLibrary*> doomed;
    {
        std::lock_guard<std::mutex> lock(ModuleLock());
        for (CDynLinkLibrary* dll = g_moduleState.m_pFirstDLL; dll; dll = dll->m_pNextDLL) {
            if (all || dll->m_hModule == state.hModule) doomed.push_back(dll);
        }
    }
    for (CDynLinkLibrary* dll : doomed) delete dll;
}
