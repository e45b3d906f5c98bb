// The module's entry point and load hooks: extension-module registration, the install path
// from the registry, the store root and its directory tree, then the housekeeping.
#include "ModuleStart.h"
#include "Housekeeping.h"
#include "AvatarStoreNames.h"
#include "InstallPath.h"
#include "ModuleSettings.h"
#include "StoreRoot.h"
#include "afxdllx.h"
#include "platform/confined_opens.h"
#include "platform/registry_hive.h"
#include "platform/write_temporaries.h"
#include "windows.h"

namespace {

// Zero until AfxInitExtensionModule fills it at attach; constant-initialised, so it needs no
// construction and exists before any hook runs.
AFX_EXTENSION_MODULE g_extensionModule = {};

// Sets the store root from the registry, or leaves it empty after showing why.
void SettleStoreRoot(CString& storeRoot) {
    HKEY shareKey = nullptr;
    const LONG opened =
        RegOpenKeyExA(HKEY_CURRENT_USER, module_settings::kShareKey, 0, KEY_QUERY_VALUE, &shareKey);
    if (opened != ERROR_SUCCESS) {
        AfxMessageBox(module_settings::kOpenKeyFailedMessage, MB_OK, 0);
        ReportShareKeyFailure(opened);
        return;
    }
    BYTE value[module_settings::kInstallPathBufferSize];
    DWORD size = module_settings::kInstallPathBufferSize;
    DWORD type = REG_NONE;
    const LONG read = RegQueryValueExA(shareKey, module_settings::kInstallPathValue, nullptr, &type,
                                       value, &size);
    CString installPath;
    std::string why;
    if (read != ERROR_SUCCESS || !InstallPathFromValue(type, value, size, &installPath, &why)) {
        AfxMessageBox(module_settings::kReadValueFailedMessage, MB_OK, 0);
        ReportPathValueFailure(read, why);
    } else {
        storeRoot = installPath + AvatarStoreNames::kStoreRootSuffix;
        // One level each; a directory that exists or cannot be made is passed over.
        CreateDirectoryA(storeRoot, nullptr);
        for (const char* directory : AvatarStoreNames::kStoreDirectories) {
            CreateDirectoryA(storeRoot + AvatarStoreNames::DirectoryName(directory).c_str(),
                             nullptr);
        }
    }
    RegCloseKey(shareKey);
}

BOOL AttachProcess(HINSTANCE instance) {
    if (!AfxInitExtensionModule(g_extensionModule, instance)) return FALSE;
    // MFC's chain of modules owns it from here on.
    new CDynLinkLibrary(g_extensionModule);
    CString& storeRoot = module_start::StoreRootForAttach();
    storeRoot = "";
    // Before the hive is read: what writes of it cut short in earlier runs left beside it.
    platform::RemoveStaleWriteTemporaries(platform::RegistryHivePath().c_str());
    SettleStoreRoot(storeRoot);
    // Others write into the store: a link there must not make this process read or write a
    // file elsewhere (the download library resolves beneath the root the same way).
    if (!storeRoot.IsEmpty()) platform::ConfineOpensBelow(storeRoot);
    RunHousekeeping();
    return TRUE;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return AttachProcess(instance);
        case DLL_PROCESS_DETACH:
            AfxTermExtensionModule(g_extensionModule, FALSE);
            return TRUE;
        default:  // thread attach and detach
            return TRUE;
    }
}
