// GDI's private state: the handle table of DCs and objects, the stock objects, and the
// framebuffers of top-level windows, guarded by one process-wide mutex, the table lock; and the
// pixels of each bitmap and framebuffer, each guarded by a lock of its own.
//
// Locking: an entry point takes the table lock (TableLock) to find its DCs and objects. One
// that reads or writes pixels then takes the locks of the pixels it touches (PixelLocks, in
// address order, while it still holds the table lock), lets go of the table lock and does the
// pixel work under the pixel locks alone, so that drawings into different bitmaps go on at the
// same time. Nobody takes the table lock while holding a pixel lock. USER's geometry
// (QueryWindowPlacement) is fetched without the table lock, never under it, so that USER may
// call GDI without a lock-order cycle. A window DC never changes its window, so the geometry
// fetched for a live DC handle stays about the right window.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include "internal/window_surface.h"
#include "wingdi.h"

namespace platform_gdi {

// Limits of one bitmap or framebuffer; bigger requests fail instead of allocating.
constexpr int kMaxBitmapSide = 16384;
constexpr int64_t kMaxBitmapPixels = int64_t{32} << 20;

// What GetDeviceCaps reports of the one display.
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr int kPixelsPerInch = 96;

// The one conversion between COLORREF (0x00BBGGRR) and a pixel (0x00RRGGBB).
inline uint32_t PixelFromColor(COLORREF color) {
    return ((color & 0xFFu) << 16) | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}
inline COLORREF ColorFromPixel(uint32_t pixel) {
    return ((pixel & 0xFFu) << 16) | (pixel & 0xFF00u) | ((pixel >> 16) & 0xFFu);
}

// A rectangle in 64-bit coordinates, so that offsets and extents taken from callers never
// overflow while they are clipped.
struct Box {
    int64_t left = 0, top = 0, right = 0, bottom = 0;

    static Box FromRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
    static Box FromExtent(int64_t x, int64_t y, int64_t cx, int64_t cy) {
        return {x, y, x + cx, y + cy};
    }
    bool Empty() const { return left >= right || top >= bottom; }
    int64_t Width() const { return right - left; }
    int64_t Height() const { return bottom - top; }
    Box Offset(int64_t dx, int64_t dy) const {
        return {left + dx, top + dy, right + dx, bottom + dy};
    }
    Box Intersect(const Box& o) const;
    RECT ToRect() const;  // only for boxes already inside a buffer
};

// True when cx by cy is a size a bitmap may have.
bool SizeAllowed(int64_t cx, int64_t cy);

// The pixels of a bitmap or of a framebuffer, and the lock held while they are read or
// written. Held by shared pointer, so that a drawing that has let go of the table lock keeps
// them even when their bitmap is deleted meanwhile.
struct Pixels {
    std::mutex lock;
    std::vector<uint32_t> bits;
};

struct BitmapObject {
    int width = 1;
    int height = 1;
    std::shared_ptr<Pixels> pixels;  // never null; its size never changes
    HDC selectedInto = nullptr;      // the memory DC holding it (never set for the stock bitmap)
};

struct BrushObject {
    COLORREF color = 0;
    bool hollow = false;
};

struct PenObject {
    COLORREF color = 0;
    bool hollow = false;
};

struct FontObject {
    LOGFONTA logfont{};
};

enum class DcKind { Memory, Window, Screen };

struct DcObject {
    DcKind kind = DcKind::Memory;
    HWND hwnd = nullptr;   // window DCs: the window whose client area it draws on
    bool hasClip = false;  // window DCs: drawing further limited to clip (client coordinates)
    RECT clip{};
    HBITMAP bitmap = nullptr;  // memory DCs only
    HBRUSH brush = nullptr;
    HPEN pen = nullptr;
    HFONT font = nullptr;
    int stretchMode = BLACKONWHITE;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    UINT textAlign = TA_LEFT | TA_TOP;
};

struct GdiObject {
    bool stock = false;
    int selections = 0;  // brushes, pens, fonts: how many DCs hold it
    std::variant<BitmapObject, BrushObject, PenObject, FontObject, DcObject> body;
    bool deletePending = false;  // DeleteObject came while a DC held it: it goes when released
};

// Resized under the table lock and its pixels' lock.
struct Framebuffer {
    int width = 0;
    int height = 0;
    std::shared_ptr<Pixels> pixels = std::make_shared<Pixels>();
};

// The geometry of the window behind a DC, fetched from USER before the GDI lock is taken.
struct DcGeometry {
    bool isWindowDC = false;
    bool windowAlive = false;
    platform::internal::WindowPlacement placement{};
};

// Pixels a DC draws on, or reads from, resolved under the table lock; bits may be used only
// under the pixels' lock (PixelLocks).
struct Target {
    bool hasPixels = false;  // false: a screen DC, which has none
    std::shared_ptr<Pixels> pixels;
    uint32_t* bits = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
    int64_t originX = 0;  // where DC coordinate (0,0) lies in the buffer
    int64_t originY = 0;
    Box clip;      // buffer coordinates that drawing may touch
    Box readable;  // buffer coordinates that may be read as a source
};

class State {
public:
    std::mutex mutex;

    template <class T>
    T* Find(const void* handle) {
        auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == objects_.end()) return nullptr;
        return std::get_if<T>(&it->second.body);
    }
    GdiObject* FindObject(const void* handle);
    // Called once a DC has let go of the object: deletes it if DeleteObject asked for that.
    void Released(const void* handle);
    HGDIOBJ Add(GdiObject object);
    void Remove(const void* handle);

    HGDIOBJ Stock(int index) const;  // null for an index without a stock object
    HBITMAP StockBitmap() const { return stockBitmap_; }

    // Selects the stock objects into a new DC and adds it to the table.
    HDC AddDC(DcObject dc);
    // Deselects everything the DC holds and removes it.
    void RemoveDC(HDC hdc);

    // False when hdc is not a DC, or is the DC of a window that no longer exists.
    bool Resolve(HDC hdc, const DcGeometry& geometry, Target* target);
    Framebuffer* FramebufferFor(HWND top, SIZE size);
    // The window is gone for good (USER never reuses a handle): a drawing call that fetched its
    // geometry just before the destruction must not bring the framebuffer back.
    void DiscardFramebuffer(HWND top) {
        framebuffers_.erase(top);
        discarded_.insert(top);
    }

    static State& Get();

private:
    State();

    std::unordered_map<uintptr_t, GdiObject> objects_;
    uintptr_t nextHandle_ = 0x10000;
    HGDIOBJ stock_[DEFAULT_GUI_FONT + 1] = {};
    HBITMAP stockBitmap_ = nullptr;
    std::unordered_map<HWND, Framebuffer> framebuffers_;
    std::unordered_set<HWND> discarded_;
};

// The table lock for one operation on up to two DCs. When either is a window DC, the lock is let
// go while USER is asked where its window lies, and taken again.
class TableLock {
public:
    explicit TableLock(HDC first, HDC second = nullptr);
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    const DcGeometry& Geometry(HDC hdc) const {
        return hdc == second_ ? geometry_[1] : geometry_[0];
    }
    void Release() { lock_.unlock(); }

private:
    std::unique_lock<std::mutex> lock_;
    HDC second_;
    DcGeometry geometry_[2];
};

// Holds the locks of the targets' pixels (each once, in address order). Take it under the table
// lock, then release the table lock for the pixel work.
class PixelLocks {
public:
    explicit PixelLocks(std::initializer_list<const Target*> targets);
    ~PixelLocks();
    PixelLocks(const PixelLocks&) = delete;
    PixelLocks& operator=(const PixelLocks&) = delete;

private:
    Pixels* held_[2] = {};
};

}  // namespace platform_gdi
