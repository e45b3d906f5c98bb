// A process of its own for what a test cannot do to its own connection to the display: it
// prints why there is no display (or "none"), and when there is one shows a window, kills the
// X server given by --kill, and reports what the boxes answered and whether the window lives.
// With --paint instead, it fills the window with kPaint and reports what the server holds.
//   display_probe [--kill PID | --paint]
// Output, one line each, fields separated by tabs:
//   problem <DisplayProblem() or none>
//   pixel <the server's pixel value, hexadecimal>   --paint
//   boxes <MessageBoxA> <AfxMessageBox>   after the kill
//   problem <...>                         after the kill
//   window <IsWindow> <captured>          after the kill
#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "afxmsgbox.h"
#include "platform/capture.h"
#include "platform/display.h"
#include "windows.h"

namespace {

constexpr COLORREF kPaint = RGB(0x12, 0x34, 0x56);

void PrintProblem() {
    const char* problem = platform::DisplayProblem();
    std::printf("problem\t%s\n", problem ? problem : "none");
    std::fflush(stdout);
}

}  // namespace

// Fills the window and reads its middle pixel back through a connection of the probe's own.
void PrintPaintedPixel(HWND window) {
    HDC dc = GetDC(window);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH brush = CreateSolidBrush(kPaint);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
    platform::FlushDisplay();
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP,
                      static_cast<xcb_drawable_t>(platform::DisplayWindowId(window)), 8, 8, 1, 1,
                      UINT32_MAX),
        nullptr);
    uint32_t pixel = 0;
    if (image != nullptr) {
        const int length = std::min(xcb_get_image_data_length(image), 4);
        std::memcpy(&pixel, xcb_get_image_data(image), static_cast<size_t>(length));
    }
    std::printf("pixel\t%x\n", image ? pixel : UINT32_MAX);
    std::free(image);
    xcb_disconnect(connection);
}

int main(int argc, char** argv) {
    PrintProblem();
    if (argc == 2 && std::strcmp(argv[1], "--paint") == 0 && !platform::DisplayProblem()) {
        HWND window = CreateWindowExA(0, "STATIC", "probe", WS_POPUP | WS_VISIBLE, 10, 10, 64, 48,
                                      nullptr, nullptr, nullptr, nullptr);
        PrintPaintedPixel(window);
        return 0;
    }
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
