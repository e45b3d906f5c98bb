// minimal-host: the smallest complete host of the avatar control. One window, one CPortrix on a
// static control of it, a message loop, and the avatar server's address from the command line.
//
//   minimal-host SERVER[:PORT] [USER-ID] [SECONDS]
//
// libportrix reads its install path from the registry while it is being loaded, before main()
// runs, so point it at an install directory first:
//   portrix-reg set "HKEY_CURRENT_USER\Software\szDomain\Share" Path /opt/myapp
#include <cstdio>
#include <cstdlib>

#include "Portrix.h"
#include "platform/display.h"
#include "windows.h"
#ifdef _WIN32
#include <commctrl.h>
#endif

namespace {

// The host's mouse receiver: the control forwards every mouse message of its window here.
class ClickPrinter : public IMouseEventHook {
public:
    void OnMouseEvent(UINT message, UINT keyFlags, LONG point) override {
        if (message == WM_MOUSEMOVE) return;
        std::printf("mouse message 0x%04x, keys 0x%04x, at (%d,%d)\n", message, keyFlags,
                    GET_X_LPARAM(point), GET_Y_LPARAM(point));
    }
};

constexpr UINT_PTR kEndOfRunTimer = 1;
constexpr int kAvatarId = 1001;
constexpr char kDialogClass[] = "MinimalHostDialog";

// What the control shows: its size follows the picture it loaded.
void PrintShown(HWND control) {
    RECT shown;
    GetClientRect(control, &shown);
    HDC dc = GetDC(control);
    const COLORREF centre = GetPixel(dc, shown.right / 2, shown.bottom / 2);
    ReleaseDC(control, dc);
    std::printf("the control shows %ldx%ld pixels, centre colour %02x%02x%02x\n",
                static_cast<long>(shown.right), static_cast<long>(shown.bottom), GetRValue(centre),
                GetGValue(centre), GetBValue(centre));
}

// The dialog's window procedure, as every host has one: closing the dialog (the window
// manager's close button, or the end of the run) destroys it, and its destruction ends the
// message loop. Without WM_DESTROY's PostQuitMessage a closed dialog would leave the loop
// waiting for ever.
LRESULT CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam != kEndOfRunTimer) break;
            PostMessageA(dialog, WM_CLOSE, 0, 0);  // the run is over: close as a user would
            return 0;
        case WM_CLOSE:
            PrintShown(GetDlgItem(dialog, kAvatarId));
            DestroyWindow(dialog);  // its child, the control's window, goes with it
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(dialog, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER[:PORT] [USER-ID] [SECONDS]\n", argv[0]);
        return 2;
    }
    const char* server = argv[1];
    const char* userId = argc > 2 ? argv[2] : "10002";
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;

    // The host's dialog, of a window class of its own, and a static control on it; SS_NOTIFY
    // lets the static receive the mouse.
    WNDCLASSA dialogClass = {};
    dialogClass.lpfnWndProc = DialogProc;
    dialogClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    dialogClass.lpszClassName = kDialogClass;
    if (RegisterClassA(&dialogClass) == 0) return 1;
    HWND dialog = CreateWindowExA(0, kDialogClass, "Minimal host",
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 100, 100, 200,
                                  200, nullptr, nullptr, nullptr, nullptr);
    HWND child = CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 20, 20, 64,
                                 64, dialog, reinterpret_cast<HMENU>(kAvatarId), nullptr, nullptr);
    if (dialog == nullptr || child == nullptr) return 1;

    // On the screen when there is one; otherwise the host runs on in memory, and says why.
    if (const char* problem = platform::DisplayProblem())
        std::fprintf(stderr, "minimal-host: no window on the screen: %s\n", problem);

    CPortrix avatar;               // the host owns it for the dialog's life
    avatar.SubclassWindow(child);  // attach it to the static control
    ClickPrinter receiver;

    avatar.SetUserID(userId);  // whose picture
    avatar.SetSex(1);          // 0 unspecified, 1 man, 2 woman: picks the default picture
    avatar.SetImageType(2);    // 1 Body, 2 Up, 3 Face (draws the default picture at once)
    avatar.SetFaceMode(0);     // 0..9: the file-name suffix
    avatar.SetImageSN(1);      // the version the host wants (for DisplaySN)
    avatar.SetServerAddress(server);
    avatar.AttachMouseEventHook(&receiver);  // optional

    avatar.Display();  // stored and fresh: shown; otherwise placeholder, download, polling
    // or avatar.DisplaySN();           downloads when the recorded version is older
    // or avatar.DisplaywithDownload(); always downloads

    // The message loop: the control's timers and paints arrive through it. It runs until the
    // dialog is closed; this host closes it itself after `seconds`.
    SetTimer(dialog, kEndOfRunTimer, static_cast<UINT>(seconds) * 1000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
