#include "gdi/gdi_state.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace platform_gdi {

namespace {

// The stock fonts, as the original's font mapper describes them (GetObject gives these).
struct StockFont {
    int index;
    LONG height;
    LONG weight;
    BYTE pitchAndFamily;
    const char* face;
};
constexpr StockFont kStockFonts[] = {
    {OEM_FIXED_FONT, 12, FW_NORMAL, FIXED_PITCH | FF_MODERN, "Terminal"},
    {ANSI_FIXED_FONT, 12, FW_NORMAL, FIXED_PITCH | FF_MODERN, "Courier"},
    {ANSI_VAR_FONT, 12, FW_NORMAL, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif"},
    {SYSTEM_FONT, 16, FW_BOLD, VARIABLE_PITCH | FF_SWISS, "System"},
    {DEVICE_DEFAULT_FONT, 16, FW_BOLD, VARIABLE_PITCH | FF_SWISS, "System"},
    {SYSTEM_FIXED_FONT, 16, FW_NORMAL, FIXED_PITCH | FF_MODERN, "Fixedsys"},
    {DEFAULT_GUI_FONT, -11, FW_NORMAL, VARIABLE_PITCH | FF_SWISS, "MS Shell Dlg"},
};

}  // namespace

Box Box::Intersect(const Box& o) const {
    Box r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
          std::min(bottom, o.bottom)};
    if (r.Empty()) return Box{};
    return r;
}

RECT Box::ToRect() const {
    return RECT{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
                static_cast<LONG>(bottom)};
}

bool SizeAllowed(int64_t cx, int64_t cy) {
    return cx >= 0 && cy >= 0 && cx <= kMaxBitmapSide && cy <= kMaxBitmapSide &&
           cx * cy <= kMaxBitmapPixels;
}

State& State::Get() {
    // Never destroyed: a thread may still draw while the process exits.
    static State* state = new State;
    return *state;
}

State::State() {
    auto brush = [this](int index, COLORREF color, bool hollow) {
        GdiObject o{true, 0, BrushObject{color, hollow}};
        stock_[index] = Add(std::move(o));
    };
    brush(WHITE_BRUSH, RGB(255, 255, 255), false);
    brush(LTGRAY_BRUSH, RGB(192, 192, 192), false);
    brush(GRAY_BRUSH, RGB(128, 128, 128), false);
    brush(DKGRAY_BRUSH, RGB(64, 64, 64), false);
    brush(BLACK_BRUSH, RGB(0, 0, 0), false);
    brush(NULL_BRUSH, 0, true);
    auto pen = [this](int index, COLORREF color, bool hollow) {
        stock_[index] = Add(GdiObject{true, 0, PenObject{color, hollow}});
    };
    pen(WHITE_PEN, RGB(255, 255, 255), false);
    pen(BLACK_PEN, RGB(0, 0, 0), false);
    pen(NULL_PEN, 0, true);
    for (const StockFont& font : kStockFonts) {
        FontObject object;
        object.logfont.lfHeight = font.height;
        object.logfont.lfWeight = font.weight;
        object.logfont.lfPitchAndFamily = font.pitchAndFamily;
        std::strncpy(object.logfont.lfFaceName, font.face, LF_FACESIZE - 1);
        stock_[font.index] = Add(GdiObject{true, 0, object});
    }
    BitmapObject one;
    one.pixels = std::make_shared<Pixels>();
    one.pixels->bits.assign(1, 0);
    stockBitmap_ = static_cast<HBITMAP>(Add(GdiObject{true, 0, std::move(one)}));
}

GdiObject* State::FindObject(const void* handle) {
    auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects_.end() ? nullptr : &it->second;
}

HGDIOBJ State::Add(GdiObject object) {
    // Handles only grow, so a stale handle can never name a newer object.
    uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    objects_.emplace(handle, std::move(object));
    return reinterpret_cast<HGDIOBJ>(handle);
}

void State::Remove(const void* handle) {
    objects_.erase(reinterpret_cast<uintptr_t>(handle));
}

HGDIOBJ State::Stock(int index) const {
    if (index < 0 || index > DEFAULT_GUI_FONT) return nullptr;
    return stock_[index];
}

HDC State::AddDC(DcObject dc) {
    dc.brush = static_cast<HBRUSH>(stock_[WHITE_BRUSH]);
    dc.pen = static_cast<HPEN>(stock_[BLACK_PEN]);
    dc.font = static_cast<HFONT>(stock_[SYSTEM_FONT]);
    if (dc.kind == DcKind::Memory) dc.bitmap = stockBitmap_;
    return static_cast<HDC>(Add(GdiObject{false, 0, std::move(dc)}));
}

void State::RemoveDC(HDC hdc) {
    DcObject* dc = Find<DcObject>(hdc);
    if (!dc) return;
    const void* held[] = {dc->brush, dc->pen, dc->font, dc->bitmap};
    for (const void* h : {held[0], held[1], held[2]}) {
        GdiObject* o = FindObject(h);
        if (o && o->selections > 0) o->selections--;
    }
    if (BitmapObject* bitmap = Find<BitmapObject>(dc->bitmap)) {
        if (bitmap->selectedInto == hdc) bitmap->selectedInto = nullptr;
    }
    Remove(hdc);
    for (const void* h : held) Released(h);
}

void State::Released(const void* handle) {
    GdiObject* object = FindObject(handle);
    if (!object || !object->deletePending || object->selections > 0) return;
    if (auto* bitmap = std::get_if<BitmapObject>(&object->body); bitmap && bitmap->selectedInto)
        return;
    Remove(handle);
}

Framebuffer* State::FramebufferFor(HWND top, SIZE size) {
    if (!SizeAllowed(size.cx, size.cy) || discarded_.count(top)) return nullptr;
    Framebuffer& fb = framebuffers_[top];
    if (fb.width == size.cx && fb.height == size.cy) return &fb;
    // A resized window keeps what it showed where the old and new sizes overlap.
    std::vector<uint32_t> bits;
    try {
        bits.assign(static_cast<size_t>(size.cx) * static_cast<size_t>(size.cy), 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    int keepWidth = std::min<int>(fb.width, size.cx);
    int keepHeight = std::min<int>(fb.height, size.cy);
    std::lock_guard<std::mutex> drawing(fb.pixels->lock);
    for (int y = 0; y < keepHeight; ++y) {
        std::memcpy(&bits[static_cast<size_t>(y) * size.cx],
                    &fb.pixels->bits[static_cast<size_t>(y) * fb.width],
                    keepWidth * sizeof(uint32_t));
    }
    fb.pixels->bits = std::move(bits);
    fb.width = size.cx;
    fb.height = size.cy;
    return &fb;
}

bool State::Resolve(HDC hdc, const DcGeometry& geometry, Target* target) {
    DcObject* dc = Find<DcObject>(hdc);
    if (!dc) return false;
    *target = Target{};
    switch (dc->kind) {
        case DcKind::Screen:
            return true;
        case DcKind::Memory: {
            BitmapObject* bitmap = Find<BitmapObject>(dc->bitmap);
            if (!bitmap) return true;
            target->hasPixels = true;
            target->pixels = bitmap->pixels;
            target->bits = bitmap->pixels->bits.data();
            target->stride = target->width = bitmap->width;
            target->height = bitmap->height;
            target->clip = target->readable = Box{0, 0, bitmap->width, bitmap->height};
            return true;
        }
        case DcKind::Window: {
            // A DC that outlived its window fails like a dead handle, although ReleaseDC still
            // takes it back.
            if (!geometry.isWindowDC || !geometry.windowAlive) return false;
            const platform::internal::WindowPlacement& p = geometry.placement;
            Framebuffer* fb = FramebufferFor(p.top, p.topClientSize);
            if (!fb) return true;
            Box bounds{0, 0, fb->width, fb->height};
            target->hasPixels = true;
            target->pixels = fb->pixels;
            target->bits = fb->pixels->bits.data();
            target->stride = target->width = fb->width;
            target->height = fb->height;
            target->originX = p.clientInTop.left;
            target->originY = p.clientInTop.top;
            target->readable = Box::FromRect(p.clientInTop).Intersect(bounds);
            Box clip = Box::FromRect(p.visibleInTop).Intersect(bounds);
            if (dc->hasClip) {
                clip = clip.Intersect(
                    Box::FromRect(dc->clip).Offset(target->originX, target->originY));
            }
            target->clip = clip;
            return true;
        }
    }
    return true;
}

TableLock::TableLock(HDC first, HDC second) : lock_(State::Get().mutex), second_(second) {
    State& state = State::Get();
    HWND windows[2] = {};
    const HDC dcs[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        const DcObject* dc = dcs[i] ? state.Find<DcObject>(dcs[i]) : nullptr;
        if (dc && dc->kind == DcKind::Window) windows[i] = dc->hwnd;
    }
    if (!windows[0] && !windows[1]) return;
    lock_.unlock();
    for (int i = 0; i < 2; ++i) {
        if (!windows[i]) continue;
        geometry_[i].isWindowDC = true;
        geometry_[i].windowAlive =
            platform::internal::QueryWindowPlacement(windows[i], &geometry_[i].placement) != FALSE;
    }
    lock_.lock();
}

PixelLocks::PixelLocks(std::initializer_list<const Target*> targets) {
    int count = 0;
    for (const Target* target : targets) {
        Pixels* pixels = target->pixels.get();
        if (pixels == nullptr || count == 2 || (count == 1 && held_[0] == pixels)) continue;
        held_[count++] = pixels;
    }
    if (count == 2 && std::less<Pixels*>()(held_[1], held_[0])) std::swap(held_[0], held_[1]);
    for (Pixels* pixels : held_) {
        if (pixels) pixels->lock.lock();
    }
}

PixelLocks::~PixelLocks() {
    for (Pixels* pixels : held_) {
        if (pixels) pixels->lock.unlock();
    }
}

}  // namespace platform_gdi
