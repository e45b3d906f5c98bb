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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER[:PORT] [USER-ID] [SECONDS]\n", argv[0]);
        return 2;
    }
    const char* server = argv[1];
    const char* userId = argc > 2 ? argv[2] : "10002";
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;

    // The host's dialog and a static control on it; SS_NOTIFY lets the static receive the mouse.
    HWND dialog = CreateWindowExA(0, WC_DIALOG, "Minimal host",
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 100, 100, 200,
                                  200, nullptr, nullptr, nullptr, nullptr);
    HWND child = CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 20, 20, 64,
                                 64, dialog, reinterpret_cast<HMENU>(1001), nullptr, nullptr);
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

    // The message loop: the control's timers and paints arrive through it. A real host runs it
    // until its dialog closes; this one stops after `seconds`.
    SetTimer(dialog, kEndOfRunTimer, static_cast<UINT>(seconds) * 1000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == dialog && message.message == WM_TIMER &&
            message.wParam == kEndOfRunTimer)
            break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    // What the control shows now: its size follows the picture it loaded.
    RECT shown;
    GetClientRect(child, &shown);
    HDC dc = GetDC(child);
    const COLORREF centre = GetPixel(dc, shown.right / 2, shown.bottom / 2);
    ReleaseDC(child, dc);
    std::printf("the control shows %ldx%ld pixels, centre colour %02x%02x%02x\n",
                static_cast<long>(shown.right), static_cast<long>(shown.bottom), GetRValue(centre),
                GetGValue(centre), GetBValue(centre));

    DestroyWindow(dialog);  // its child, the control's window, goes with it
    return 0;
}
