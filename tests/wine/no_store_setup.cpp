// The no-store control test's set-up, attached before portrix.dll on the same thread: the
// recording nimbrel.dll of that test imports it, and the loader attaches a library's imports
// before the library, and nimbrel.dll before portrix.dll, which imports it. HKEY_CURRENT_USER
// then stands for a hive with the Share key and no Path value, as the Linux build's hive for that
// test holds, and a CBT hook of the thread answers OK to every message box shown while the
// libraries load (no one is there to press it), keeping each box's text for the test.
#include <windows.h>

#include <string>
#include <vector>

#include "hive_import.h"
#include "load_boxes.h"

namespace {

std::vector<std::string>* g_boxes = new std::vector<std::string>;
HHOOK g_hook = nullptr;

BOOL CALLBACK KeepStaticText(HWND child, LPARAM boxes) {
    char name[16] = "";
    char text[512] = "";
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
        reinterpret_cast<std::vector<std::string>*>(boxes)->push_back(text);
    return TRUE;
}

LRESULT CALLBACK CloseBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[16] = "";
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpA(name, "#32770") == 0) {
            EnumChildWindows(window, KeepStaticText, reinterpret_cast<LPARAM>(g_boxes));
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

}  // namespace

// What the recording nimbrel.dll of the test refers to, so that it imports this library.
extern "C" __declspec(dllexport) void NoStoreSetupAnchor() {}

std::vector<std::string> MessageBoxesAtLoad() {
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    return *g_boxes;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    static portrix_test::ScenarioHive* hive = new portrix_test::ScenarioHive(PORTRIX_NO_STORE_HIVE);
    g_hook = SetWindowsHookExA(WH_CBT, CloseBoxes, nullptr, GetCurrentThreadId());
    return hive->ok() && g_hook != nullptr;
}
