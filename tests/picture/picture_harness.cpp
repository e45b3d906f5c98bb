#include "picture_harness.h"

#include <platform/pump.h>
#ifdef _WIN32
#include <commctrl.h>  // WC_STATIC
#endif

#include <cstring>

uint32_t PictureProbe::MemoryPixel(int x, int y) const {
    return RgbOf(GetPixel(memDC, x, y));
}

HostWindows::HostWindows(int childX, int childY, int childWidth, int childHeight) {
    dialog_ = CreateWindowExA(0, WC_DIALOG, "picture test", WS_POPUP | WS_VISIBLE, 0, 0, 200, 150,
                              nullptr, nullptr, nullptr, nullptr);
    child_ = CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE, childX, childY, childWidth,
                             childHeight, dialog_, nullptr, nullptr, nullptr);
}

HostWindows::~HostWindows() {
    DestroyChild();
    if (dialog_ != nullptr) DestroyWindow(dialog_);
}

void HostWindows::DestroyChild() {
    if (child_ != nullptr && IsWindow(child_)) DestroyWindow(child_);
    child_ = nullptr;
}

GlobalBlock::GlobalBlock(const std::vector<uint8_t>& bytes)
    : size_(static_cast<DWORD>(bytes.size())) {
    block_ = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (block_ != nullptr && !bytes.empty()) {
        void* p = GlobalLock(block_);
        std::memcpy(p, bytes.data(), bytes.size());
        GlobalUnlock(block_);
    }
}

GlobalBlock::~GlobalBlock() {
    if (block_ != nullptr) GlobalFree(block_);
}

int GlobalBlock::LockCount() const {
    return static_cast<int>(GlobalFlags(block_) & GMEM_LOCKCOUNT);
}

BackgroundDC::BackgroundDC(int width, int height, uint32_t rgb) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    displaced_ = SelectObject(dc_, bitmap_);
    HBRUSH brush = CreateSolidBrush(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
    RECT all = {0, 0, width, height};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
}

bool BackgroundDC::Alive() const {
    return dc_ != nullptr && GetObjectType(dc_) != 0;
}

void BackgroundDC::Release() {
    if (dc_ != nullptr && Alive()) {
        SelectObject(dc_, displaced_);
        DeleteDC(dc_);
    }
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    dc_ = nullptr;
    bitmap_ = nullptr;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    return platform::PumpMessagesUntil(done, std::chrono::milliseconds(timeoutMs));
}
