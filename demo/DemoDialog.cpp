#include "DemoDialog.h"

namespace demo {

BackgroundPicture::BackgroundPicture(const Pixels& pixels, int width, int height) {
    HDC screen = ::GetDC(nullptr);
    dc_ = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    bitmap_ = ::CreateBitmap(width, height, 1, 32, pixels.data());
    if (dc_ != nullptr && bitmap_ != nullptr) displaced_ = ::SelectObject(dc_, bitmap_);
}

BackgroundPicture::~BackgroundPicture() {
    if (dc_ != nullptr && displaced_ != nullptr) ::SelectObject(dc_, displaced_);
    if (dc_ != nullptr) ::DeleteDC(dc_);
    if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
}

BEGIN_MESSAGE_MAP(CDemoDialog, CWnd)
    ON_WM_ERASEBKGND()
    ON_WM_PAINT()
END_MESSAGE_MAP()

CDemoDialog::CDemoDialog(const Pixels& background, int width, int height)
    : width_(width), height_(height), background_(background, width, height) {}

CDemoDialog::~CDemoDialog() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    avatars_.clear();
}

bool CDemoDialog::Open(const char* title, int x, int y) {
    if (!background_.ok()) return false;
    HWND hwnd = ::CreateWindowExA(0, WC_DIALOG, title, WS_POPUP | WS_VISIBLE, x, y, width_, height_, nullptr,
                                  nullptr, nullptr, nullptr);
    if (hwnd == nullptr) return false;
    if (!SubclassWindow(hwnd)) {
        ::DestroyWindow(hwnd);
        return false;
    }
    ::InvalidateRect(hwnd, nullptr, TRUE);
    return true;
}

CPortrix* CDemoDialog::AddAvatar(int id, int left, int top, int width, int height) {
    HWND child = ::CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, left, top, width, height,
                                   m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (child == nullptr) return nullptr;
    auto avatar = std::make_unique<CPortrix>();
    if (!avatar->SubclassWindow(child)) {
        ::DestroyWindow(child);
        return nullptr;
    }
    avatars_.push_back(std::move(avatar));
    return avatars_.back().get();
}

BOOL CDemoDialog::OnEraseBkgnd(CDC* dc) {
    ::BitBlt(dc->GetSafeHdc(), 0, 0, width_, height_, background_.dc(), 0, 0, SRCCOPY);
    return TRUE;
}

void CDemoDialog::OnPaint() {
    // The controls take their background from what the dialog shows under them, so every
    // paint puts the picture back, erased or not.
    CPaintDC dc(this);
    const RECT& r = dc.m_ps.rcPaint;
    ::BitBlt(dc.GetSafeHdc(), r.left, r.top, r.right - r.left, r.bottom - r.top, background_.dc(), r.left, r.top,
             SRCCOPY);
}

}  // namespace demo
