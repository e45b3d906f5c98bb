// The few extensions of the layer that the product calls, on Windows: the clock, the message-box
// sink, MFC's window-creation hook, confined folders, the clean-up of write temporaries and the
// screen.
#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "afxmsgbox.h"
#include "confined.h"
#include "internal/create_hook.h"
#include "platform/clock.h"
#include "platform/confined_opens.h"
#include "platform/display.h"
#include "platform/msgbox.h"
#include "platform/registry_hive.h"
#include "platform/write_temporaries.h"

namespace platform {

// ---- Clock: the system's own; nothing moves it on Windows ------------------------------------
int64_t ClockNowFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                                now.dwLowDateTime);
}

// ---- Write temporaries: the system's profile and registry writes leave none ------------------
int RemoveStaleWriteTemporaries(LPCSTR) {
    return 0;
}

// ---- Registry: the system's, with no file of ours behind it -----------------------------------
std::string RegistryHivePath() {
    return std::string();
}

std::string RegistryHiveProblem() {
    return std::string();
}

// ---- The screen: the system shows every visible top-level window itself -----------------------
const char* DisplayProblem() {
    // A window station that is not visible (a service's, a non-interactive session's) has
    // windows that no one sees.
    USEROBJECTFLAGS flags{};
    HWINSTA station = GetProcessWindowStation();
    if (station != nullptr &&
        GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        (flags.dwFlags & WSF_VISIBLE) == 0)
        return "the process's window station is not visible (a service or a non-interactive "
               "session)";
    return nullptr;
}

bool HasDisplay() {
    return DisplayProblem() == nullptr;
}

unsigned long DisplayWindowId(HWND) {
    return 0;  // there is no X11 window behind a window of the system's own
}

BOOL FlushDisplay() {
    return HasDisplay() && GdiFlush();
}

// ---- Message boxes ---------------------------------------------------------------------------
namespace {

struct SinkSlot {
    std::mutex lock;
    std::shared_ptr<const MessageBoxSink> sink;
};

SinkSlot& Slot() {
    static SinkSlot* slot = new SinkSlot;  // never destroyed: a box may come during exit
    return *slot;
}

}  // namespace

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
    std::shared_ptr<const MessageBoxSink> replaced;
    {
        std::lock_guard<std::mutex> guard(Slot().lock);
        replaced = std::move(Slot().sink);
        if (sink) Slot().sink = std::make_shared<const MessageBoxSink>(std::move(sink));
    }
    return replaced ? *replaced : MessageBoxSink();
}

void ResetMessageBoxSink() {
    SetMessageBoxSink(nullptr);
}

// ---- Confined folders ------------------------------------------------------------------------
namespace {

struct ConfinedFolders {
    std::mutex lock;
    std::vector<std::string> roots;  // full paths in lower case, each ending in a separator
};

ConfinedFolders& Confined() {
    static ConfinedFolders* folders = new ConfinedFolders;
    return *folders;
}

std::string FullLowerPath(LPCSTR path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return std::string();
    std::string text(full, length);
    std::replace(text.begin(), text.end(), '/', '\\');
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

void ConfineOpensBelow(LPCSTR path) {
    std::string root = FullLowerPath(path);
    if (root.empty()) return;
    if (root.back() != '\\') root += '\\';
    std::lock_guard<std::mutex> guard(Confined().lock);
    Confined().roots.push_back(root);
}

namespace win32 {

bool IsConfined(LPCSTR path) {
    const std::string full = FullLowerPath(path);
    if (full.empty()) return false;
    std::lock_guard<std::mutex> guard(Confined().lock);
    return std::any_of(
        Confined().roots.begin(), Confined().roots.end(), [&](const std::string& root) {
            return full.size() > root.size() && full.compare(0, root.size(), root) == 0;
        });
}

}  // namespace win32

// ---- MFC's creation hook, over a CBT hook of the calling thread ------------------------------
namespace internal {
namespace {

struct PendingCreation {
    CreateWindowHook hook = nullptr;
    void* context = nullptr;
    HHOOK cbt = nullptr;
};

thread_local PendingCreation t_pending;

void Unhook() {
    if (t_pending.cbt) UnhookWindowsHookEx(t_pending.cbt);
    t_pending = PendingCreation();
}

LRESULT CALLBACK CbtFilter(int code, WPARAM wParam, LPARAM lParam) {
    const HHOOK cbt = t_pending.cbt;
    if (code == HCBT_CREATEWND && t_pending.hook) {
        // One window only: windows that the hook or the creation messages make are not caught.
        const CreateWindowHook hook = t_pending.hook;
        void* const context = t_pending.context;
        Unhook();
        hook(reinterpret_cast<HWND>(wParam), context);
        return CallNextHookEx(cbt, code, wParam, lParam);
    }
    return CallNextHookEx(cbt, code, wParam, lParam);
}

}  // namespace

void SetCreateWindowHook(CreateWindowHook hook, void* context) {
    Unhook();
    if (!hook) return;
    t_pending.cbt = SetWindowsHookExA(WH_CBT, &CbtFilter, nullptr, GetCurrentThreadId());
    if (t_pending.cbt) {
        t_pending.hook = hook;
        t_pending.context = context;
    }
}

}  // namespace internal
}  // namespace platform

// MFC captions the box with the application's name: here the program's file name without its
// folder and extension.
int AfxMessageBox(LPCTSTR text, UINT type, UINT helpId) {
    std::shared_ptr<const platform::MessageBoxSink> sink;
    {
        std::lock_guard<std::mutex> guard(platform::Slot().lock);
        sink = platform::Slot().sink;
    }
    if (sink) return (*sink)(text, type, helpId);
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string caption = program;
    caption = caption.substr(caption.find_last_of("\\/") + 1);
    caption = caption.substr(0, caption.find_last_of('.'));
    return MessageBoxA(GetActiveWindow(), text, caption.c_str(), type);
}
