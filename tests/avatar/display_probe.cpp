// A process of its own for what a test cannot do to its own connection to the display: it
// prints why there is no display (or "none"), and when there is one shows a window, kills the
// X server given by --kill, and reports what the boxes answered and whether the window lives.
//   display_probe [--kill PID]
// Output, one line each, fields separated by tabs:
//   problem <DisplayProblem() or none>
//   boxes <MessageBoxA> <AfxMessageBox>   after the kill
//   problem <...>                         after the kill
//   window <IsWindow> <captured>          after the kill
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "afxmsgbox.h"
#include "platform/capture.h"
#include "platform/display.h"
#include "windows.h"

namespace {

void PrintProblem() {
    const char* problem = platform::DisplayProblem();
    std::printf("problem\t%s\n", problem ? problem : "none");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    PrintProblem();
    if (argc < 3 || std::strcmp(argv[1], "--kill") != 0 || platform::DisplayProblem()) return 0;
    const pid_t server = static_cast<pid_t>(std::atoi(argv[2]));
    if (server <= 0) return 2;
    HWND window = CreateWindowExA(0, "STATIC", "probe", WS_POPUP | WS_VISIBLE, 10, 10, 64, 48,
                                  nullptr, nullptr, nullptr, nullptr);
    platform::FlushDisplay();
    kill(server, SIGKILL);
    // At once: the layer may not have noticed yet.
    const int first = MessageBoxA(window, "first box", "probe", MB_OKCANCEL);
    const int second = AfxMessageBox("second box", MB_YESNO);
    std::printf("boxes\t%d\t%d\n", first, second);
    PrintProblem();
    SetWindowTextA(window, "still here");
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    std::printf("window\t%d\t%d\n", IsWindow(window) ? 1 : 0,
                platform::CaptureWindow(window, &pixels, &width, &height) ? 1 : 0);
    return 0;
}
