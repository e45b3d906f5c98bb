// Where USER and GDI reach the display back end, and the layer's own calls about the screen.
#include "display/x11_display.h"
#include "internal/display.h"
#include "platform/display.h"

using platform_display::X11Display;

namespace platform::internal {

bool DisplayConnected() {
    return X11Display::Get() != nullptr;
}

void DisplayWindowChanged(HWND hwnd) {
    X11Display* display = X11Display::IfConnected();
    if (display == nullptr) {
        // Connecting waits for the first top-level window that is shown.
        TopLevelState state;
        if (!QueryTopLevel(hwnd, &state) || !state.visible) return;
        display = X11Display::Get();
        if (display == nullptr) return;
    }
    display->SyncWindow(hwnd);
}

void DisplayWindowDestroyed(HWND top) {
    if (X11Display* display = X11Display::IfConnected()) display->DestroyWindow(top);
}

void DisplayWindowDrawn(HWND hwnd) {
    if (X11Display* display = X11Display::IfConnected()) display->MarkDrawn(hwnd);
}

}  // namespace platform::internal

namespace platform {

bool HasDisplay() {
    return X11Display::Get() != nullptr;
}

const char* DisplayProblem() {
    return X11Display::Problem();
}

unsigned long DisplayWindowId(HWND hwnd) {
    X11Display* display = X11Display::IfConnected();
    return display ? display->WindowId(hwnd) : 0;
}

BOOL FlushDisplay() {
    X11Display* display = X11Display::IfConnected();
    if (display == nullptr) return FALSE;
    display->Flush();
    return TRUE;
}

}  // namespace platform
