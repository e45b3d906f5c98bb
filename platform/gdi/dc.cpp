// Device contexts: memory, window and screen DCs, their release, device capabilities, and the
// pixel access that USER, OLE and capture use.
#include <mutex>

#include "gdi/gdi_state.h"
#include "internal/display.h"
#include "internal/window_surface.h"
#include "wingdi.h"
#include "winuser.h"

using platform_gdi::DcKind;
using platform_gdi::DcObject;
using platform_gdi::State;
using platform_gdi::Target;

namespace {

HDC NewWindowDC(HWND hwnd, const RECT* clipClient) {
    platform::internal::WindowPlacement placement;
    if (!platform::internal::QueryWindowPlacement(hwnd, &placement)) return nullptr;
    DcObject dc;
    dc.kind = DcKind::Window;
    dc.hwnd = hwnd;
    if (clipClient) {
        dc.hasClip = true;
        dc.clip = *clipClient;
    }
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.AddDC(dc);
}

}  // namespace

HDC CreateCompatibleDC(HDC hdc) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (hdc && !state.Find<DcObject>(hdc)) return nullptr;
    return state.AddDC(DcObject{});
}

BOOL DeleteDC(HDC hdc) {
    // A window DC passed here is released rather than refused, so that it cannot leak.
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.Find<DcObject>(hdc)) return FALSE;
    state.RemoveDC(hdc);
    return TRUE;
}

HDC GetDC(HWND hWnd) {
    if (!hWnd) {
        DcObject dc;
        dc.kind = DcKind::Screen;
        State& state = State::Get();
        std::lock_guard<std::mutex> lock(state.mutex);
        return state.AddDC(dc);
    }
    return NewWindowDC(hWnd, nullptr);
}

int ReleaseDC(HWND hWnd, HDC hDC) {
    // Only a window or screen DC is released, and only by the window it was got for: a memory
    // DC, or a DC of another window, is left alone and 0 returned.
    State& state = State::Get();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        const DcObject* dc = state.Find<DcObject>(hDC);
        if (!dc || dc->kind == DcKind::Memory || dc->hwnd != hWnd) return 0;
        state.RemoveDC(hDC);
    }
    // What was drawn through it is complete: the real window may show it.
    if (hWnd) platform::internal::DisplayWindowDrawn(hWnd);
    return 1;
}

int GetDeviceCaps(HDC hdc, int index) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.Find<DcObject>(hdc)) return 0;
    using namespace platform_gdi;
    switch (index) {
        case DRIVERVERSION:
            return 0x4000;
        case TECHNOLOGY:
            return DT_RASDISPLAY;
        case HORZSIZE:
            return kScreenWidth * 254 / (kPixelsPerInch * 10);
        case VERTSIZE:
            return kScreenHeight * 254 / (kPixelsPerInch * 10);
        case HORZRES:
        case DESKTOPHORZRES:
            return kScreenWidth;
        case VERTRES:
        case DESKTOPVERTRES:
            return kScreenHeight;
        case BITSPIXEL:
            return 32;
        case PLANES:
            return 1;
        case NUMCOLORS:
            return -1;
        case RASTERCAPS:
            return RC_BITBLT | RC_BITMAP64 | RC_STRETCHBLT;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return kPixelsPerInch;
        case SIZEPALETTE:
            return 0;
        case COLORRES:
            return 24;
        default:
            return 0;
    }
}

namespace platform::internal {

HDC CreateWindowDCClipped(HWND hwnd, const RECT* clipClient) {
    return NewWindowDC(hwnd, clipClient);
}

void DiscardWindowFramebuffer(HWND top) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.DiscardFramebuffer(top);
}

BOOL WithDCPixels(HDC hdc, const std::function<void(const PixelView&)>& fn) {
    State& state = State::Get();
    platform_gdi::TableLock table(hdc);
    Target target;
    if (!state.Resolve(hdc, table.Geometry(hdc), &target) || !target.hasPixels) return FALSE;
    platform_gdi::PixelLocks drawing({&target});
    table.Release();
    PixelView view;
    view.bits = target.bits;
    view.stride = target.stride;
    view.width = target.width;
    view.height = target.height;
    view.origin = POINT{static_cast<LONG>(target.originX), static_cast<LONG>(target.originY)};
    view.clip = target.clip.ToRect();
    fn(view);
    return TRUE;
}

}  // namespace platform::internal
