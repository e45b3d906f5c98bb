// GDI objects: bitmaps, brushes and the stock objects; selecting them into DCs and deleting them.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "gdi/gdi_state.h"
#include "wingdi.h"

using platform_gdi::BitmapObject;
using platform_gdi::BrushObject;
using platform_gdi::DcKind;
using platform_gdi::DcObject;
using platform_gdi::FontObject;
using platform_gdi::GdiObject;
using platform_gdi::PenObject;
using platform_gdi::State;

namespace {

// A zero-filled (black) bitmap; a zero width or height gives 1x1, as the original does.
HBITMAP NewBitmap(State& state, int cx, int cy, const void* bits) {
    if (cx == 0 || cy == 0) cx = cy = 1;
    if (!platform_gdi::SizeAllowed(cx, cy)) return nullptr;
    BitmapObject bitmap;
    bitmap.width = cx;
    bitmap.height = cy;
    size_t count = static_cast<size_t>(cx) * static_cast<size_t>(cy);
    try {
        bitmap.pixels = std::make_shared<platform_gdi::Pixels>();
        bitmap.pixels->bits.assign(count, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (bits) std::memcpy(bitmap.pixels->bits.data(), bits, count * sizeof(uint32_t));
    return static_cast<HBITMAP>(state.Add(GdiObject{false, 0, std::move(bitmap)}));
}

// Swaps a brush, pen or font held by the DC, keeping the selection counts that guard deletion.
template <class Handle>
HGDIOBJ Swap(State& state, Handle* slot, HGDIOBJ incoming) {
    Handle previous = *slot;
    if (GdiObject* old = state.FindObject(previous); old && old->selections > 0) old->selections--;
    state.FindObject(incoming)->selections++;
    *slot = static_cast<Handle>(incoming);
    if (previous != incoming) state.Released(previous);
    return previous;
}

}  // namespace

HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.Find<DcObject>(hdc)) return nullptr;
    return NewBitmap(state, cx, cy, nullptr);
}

HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits) {
    if (nPlanes != 1 || nBitCount != 32) return nullptr;
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    return NewBitmap(state, nWidth, nHeight, nWidth == 0 || nHeight == 0 ? nullptr : lpBits);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    return static_cast<HBRUSH>(
        state.Add(GdiObject{false, 0, BrushObject{color & 0xFFFFFFu, false}}));
}

HGDIOBJ GetStockObject(int index) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.Stock(index);
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    DcObject* dc = state.Find<DcObject>(hdc);
    GdiObject* object = state.FindObject(h);
    if (!dc || !object) return nullptr;

    if (auto* bitmap = std::get_if<BitmapObject>(&object->body)) {
        if (dc->kind != DcKind::Memory) return nullptr;
        if (dc->bitmap == h) return h;
        // A bitmap lives in one DC at a time; only the stock bitmap is shared.
        if (!object->stock && bitmap->selectedInto) return nullptr;
        HBITMAP previous = dc->bitmap;
        if (BitmapObject* old = state.Find<BitmapObject>(previous)) old->selectedInto = nullptr;
        if (!object->stock) bitmap->selectedInto = hdc;
        dc->bitmap = static_cast<HBITMAP>(h);
        state.Released(previous);
        return previous;
    }
    if (std::holds_alternative<BrushObject>(object->body)) return Swap(state, &dc->brush, h);
    if (std::holds_alternative<PenObject>(object->body)) return Swap(state, &dc->pen, h);
    if (std::holds_alternative<FontObject>(object->body)) return Swap(state, &dc->font, h);
    return nullptr;  // a DC is not something to select
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    const DcObject* dc = state.Find<DcObject>(hdc);
    if (!dc) return nullptr;
    switch (type) {
        case OBJ_BITMAP:
            return dc->bitmap;
        case OBJ_BRUSH:
            return dc->brush;
        case OBJ_PEN:
            return dc->pen;
        case OBJ_FONT:
            return dc->font;
        default:
            return nullptr;
    }
}

BOOL DeleteObject(HGDIOBJ ho) {
    // An object still selected into a DC is deleted when the DC lets go of it, as the original
    // does, so no DC ever draws with a deleted object and a caller that deletes too early does
    // not leak. Stock objects are never deleted; asking for it does no harm.
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    GdiObject* object = state.FindObject(ho);
    if (!object || object->deletePending || std::holds_alternative<DcObject>(object->body))
        return FALSE;
    if (object->stock) return TRUE;
    object->deletePending = true;
    state.Released(ho);
    return TRUE;
}

int GetObjectA(HANDLE h, int c, LPVOID pv) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    GdiObject* object = state.FindObject(h);
    if (!object) return 0;
    if (auto* bitmap = std::get_if<BitmapObject>(&object->body)) {
        if (!pv) return sizeof(BITMAP);
        if (c < static_cast<int>(sizeof(BITMAP))) return 0;
        BITMAP bm{};
        bm.bmWidth = bitmap->width;
        bm.bmHeight = bitmap->height;
        bm.bmWidthBytes = bitmap->width * 4;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = 32;
        std::memcpy(pv, &bm, sizeof bm);
        return sizeof(BITMAP);
    }
    if (auto* brush = std::get_if<BrushObject>(&object->body)) {
        if (!pv) return sizeof(LOGBRUSH);
        if (c < static_cast<int>(sizeof(LOGBRUSH))) return 0;
        LOGBRUSH lb{};
        lb.lbStyle = brush->hollow ? BS_NULL : BS_SOLID;
        lb.lbColor = brush->color;
        std::memcpy(pv, &lb, sizeof lb);
        return sizeof(LOGBRUSH);
    }
    if (auto* font = std::get_if<FontObject>(&object->body)) {
        if (!pv) return sizeof(LOGFONTA);
        if (c < static_cast<int>(sizeof(LOGFONTA))) return 0;
        std::memcpy(pv, &font->logfont, sizeof(LOGFONTA));
        return sizeof(LOGFONTA);
    }
    return 0;
}

DWORD GetObjectType(HGDIOBJ h) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    GdiObject* object = state.FindObject(h);
    if (!object) return 0;
    if (auto* dc = std::get_if<DcObject>(&object->body)) {
        return dc->kind == DcKind::Memory ? OBJ_MEMDC : OBJ_DC;
    }
    if (std::holds_alternative<BitmapObject>(object->body)) return OBJ_BITMAP;
    if (std::holds_alternative<BrushObject>(object->body)) return OBJ_BRUSH;
    if (std::holds_alternative<PenObject>(object->body)) return OBJ_PEN;
    return OBJ_FONT;
}

LONG GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits) {
    State& state = State::Get();
    std::unique_lock<std::mutex> table(state.mutex);
    const BitmapObject* bitmap = state.Find<BitmapObject>(hbit);
    if (!bitmap || cb < 0) return 0;
    // The pixels' own lock, taken under the table lock, then the table let go, as drawing does.
    const std::shared_ptr<platform_gdi::Pixels> pixels = bitmap->pixels;
    std::lock_guard<std::mutex> pixelLock(pixels->lock);
    table.unlock();
    const size_t size = pixels->bits.size() * sizeof(uint32_t);
    if (!lpvBits) return static_cast<LONG>(size);  // without a buffer: the size the rows take
    const size_t bytes = std::min(static_cast<size_t>(cb), size);
    std::memcpy(lpvBits, pixels->bits.data(), bytes);
    return static_cast<LONG>(bytes);
}
