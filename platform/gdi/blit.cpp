// Pixel operations: bit-block transfers with raster operations, stretching, pattern fills,
// single pixels and rectangle fills.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "gdi/gdi_state.h"
#include "internal/window_surface.h"
#include "wingdi.h"
#include "winuser.h"

using platform_gdi::Box;
using platform_gdi::BrushObject;
using platform_gdi::DcObject;
using platform_gdi::PixelLocks;
using platform_gdi::State;
using platform_gdi::TableLock;
using platform_gdi::Target;

namespace {

constexpr uint32_t kPixelMask = 0x00FFFFFFu;
constexpr uintptr_t kLastSystemColor = 30;  // COLOR_MENUBAR

// The named raster operations; any other code is refused.
constexpr DWORD kNamedRops[] = {SRCCOPY,    SRCPAINT,    SRCAND,    SRCINVERT,  SRCERASE,
                                NOTSRCCOPY, NOTSRCERASE, MERGECOPY, MERGEPAINT, PATCOPY,
                                PATPAINT,   PATINVERT,   DSTINVERT, BLACKNESS,  WHITENESS};

// A ternary raster operation: bit i of code is the result for pattern, source and destination
// bits (i & 4, i & 2, i & 1), so P = 0xF0, S = 0xCC, D = 0xAA.
struct Rop {
    uint8_t code = 0;
    bool valid = false;

    explicit Rop(DWORD rop) {
        rop &= ~(CAPTUREBLT | NOMIRRORBITMAP);
        for (DWORD named : kNamedRops) {
            if (named == rop) {
                code = static_cast<uint8_t>(rop >> 16);
                valid = true;
            }
        }
    }
    bool UsesSource() const { return ((code >> 2) & 0x33) != (code & 0x33); }
    bool IsCopy() const { return code == (SRCCOPY >> 16); }
    bool UsesPattern() const { return ((code >> 4) & 0x0F) != (code & 0x0F); }

    uint32_t Apply(uint32_t p, uint32_t s, uint32_t d) const {
        uint32_t result = 0;
        for (int i = 0; i < 8; ++i) {
            if (code & (1 << i)) {
                result |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
            }
        }
        return result & kPixelMask;
    }

    // One row: dst[i] = op(pattern, src[i], dst[i]); src may be null when unused.
    void Row(uint32_t* dst, const uint32_t* src, uint32_t pattern, size_t n) const {
        switch (code) {
            case SRCCOPY >> 16:
                if (src) std::memmove(dst, src, n * sizeof(uint32_t));
                return;
            case BLACKNESS >> 16:
                std::fill(dst, dst + n, 0u);
                return;
            case WHITENESS >> 16:
                std::fill(dst, dst + n, kPixelMask);
                return;
            case PATCOPY >> 16:
                std::fill(dst, dst + n, pattern);
                return;
            default:
                for (size_t i = 0; i < n; ++i) dst[i] = Apply(pattern, src ? src[i] : 0, dst[i]);
        }
    }
};

uint32_t* PixelAt(const Target& t, int64_t x, int64_t y) {
    return t.bits + static_cast<size_t>(y) * static_cast<size_t>(t.stride) + static_cast<size_t>(x);
}

bool Contains(const Box& box, int64_t x, int64_t y) {
    return x >= box.left && x < box.right && y >= box.top && y < box.bottom;
}

// The pattern of the destination DC's brush; false for a hollow brush, which paints nothing.
bool PatternOf(State& state, HDC hdc, uint32_t* pattern) {
    const DcObject* dc = state.Find<DcObject>(hdc);
    const BrushObject* brush = dc ? state.Find<BrushObject>(dc->brush) : nullptr;
    if (!brush || brush->hollow) return false;
    *pattern = platform_gdi::PixelFromColor(brush->color);
    return true;
}

// The pixels an extent covers: x to x+w-1, or for a negative extent x+w+1 to x, so that
// StretchBlt(dc, width - 1, 0, -width, ...) mirrors exactly onto columns 0 to width - 1.
Box Normalised(int64_t x, int64_t y, int64_t w, int64_t h) {
    Box box;
    box.left = w < 0 ? x + w + 1 : x;
    box.right = w < 0 ? x + 1 : x + w;
    box.top = h < 0 ? y + h + 1 : y;
    box.bottom = h < 0 ? y + 1 : y + h;
    return box;
}

void FillBox(const Target& t, const Box& dcBox, uint32_t pixel) {
    if (!t.hasPixels) return;
    Box box = dcBox.Offset(t.originX, t.originY).Intersect(t.clip);
    for (int64_t y = box.top; y < box.bottom; ++y) {
        std::fill(PixelAt(t, box.left, y), PixelAt(t, box.right, y), pixel);
    }
}

// The source index for destination index i of a stretch (both counted from the normalised
// rectangles' edges), stepping through the source as a DDA does; reversed when mirroring.
int64_t StretchIndex(int64_t i, int64_t dstExtent, int64_t srcExtent, bool mirror) {
    // Extents reach 2^32, so the product needs more than 64 bits.
    auto s = static_cast<int64_t>(__int128{i} * srcExtent / dstExtent);
    return mirror ? srcExtent - 1 - s : s;
}

}  // namespace

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) try {
    Rop op(rop);
    if (!op.valid) return FALSE;
    bool usesSource = op.UsesSource();
    State& state = State::Get();
    TableLock table(hdc, usesSource ? hdcSrc : nullptr);
    Target dst, src;
    if (!state.Resolve(hdc, table.Geometry(hdc), &dst)) return FALSE;
    if (usesSource && (!state.Resolve(hdcSrc, table.Geometry(hdcSrc), &src) || !src.hasPixels))
        return FALSE;
    uint32_t pattern = 0;
    if (op.UsesPattern() && !PatternOf(state, hdc, &pattern)) return TRUE;
    if (!dst.hasPixels || cx <= 0 || cy <= 0) return TRUE;
    PixelLocks drawing({&dst, &src});
    table.Release();

    Box box = Box::FromExtent(x, y, cx, cy).Offset(dst.originX, dst.originY).Intersect(dst.clip);
    // Source buffer position = destination buffer position + (dx, dy).
    int64_t dx = (int64_t{x1} + src.originX) - (int64_t{x} + dst.originX);
    int64_t dy = (int64_t{y1} + src.originY) - (int64_t{y} + dst.originY);
    if (usesSource) box = box.Intersect(src.readable.Offset(-dx, -dy));
    if (box.Empty()) return TRUE;

    size_t width = static_cast<size_t>(box.Width());
    std::vector<uint32_t> copy;
    if (usesSource && src.bits == dst.bits) {
        // Source and destination share pixels: read the whole source block before writing.
        copy.resize(width * static_cast<size_t>(box.Height()));
        for (int64_t row = 0; row < box.Height(); ++row) {
            std::memcpy(&copy[static_cast<size_t>(row) * width],
                        PixelAt(src, box.left + dx, box.top + row + dy), width * sizeof(uint32_t));
        }
    }
    for (int64_t row = 0; row < box.Height(); ++row) {
        const uint32_t* from = nullptr;
        if (usesSource) {
            from = copy.empty() ? PixelAt(src, box.left + dx, box.top + row + dy)
                                : &copy[static_cast<size_t>(row) * width];
        }
        op.Row(PixelAt(dst, box.left, box.top + row), from, pattern, width);
    }
    return TRUE;
} catch (const std::bad_alloc&) {
    return FALSE;  // no room for the copy of an overlapping or stretched block
}

BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc,
                int ySrc, int wSrc, int hSrc, DWORD rop) try {
    Rop op(rop);
    if (!op.valid) return FALSE;
    if (!op.UsesSource()) return PatBlt(hdcDest, xDest, yDest, wDest, hDest, rop);
    if (wDest == wSrc && hDest == hSrc && wDest > 0 && hDest > 0) {
        return BitBlt(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, rop);
    }
    if (wSrc == 0 || hSrc == 0) return FALSE;
    State& state = State::Get();
    TableLock table(hdcDest, hdcSrc);
    Target dst, src;
    if (!state.Resolve(hdcDest, table.Geometry(hdcDest), &dst)) return FALSE;
    if (!state.Resolve(hdcSrc, table.Geometry(hdcSrc), &src) || !src.hasPixels) return FALSE;
    uint32_t pattern = 0;
    if (op.UsesPattern() && !PatternOf(state, hdcDest, &pattern)) return TRUE;
    if (!dst.hasPixels || wDest == 0 || hDest == 0) return TRUE;
    PixelLocks drawing({&dst, &src});
    table.Release();

    Box dstRect = Normalised(xDest, yDest, wDest, hDest).Offset(dst.originX, dst.originY);
    Box srcRect = Normalised(xSrc, ySrc, wSrc, hSrc).Offset(src.originX, src.originY);
    Box box = dstRect.Intersect(dst.clip);
    if (box.Empty()) return TRUE;
    bool mirrorX = (wDest < 0) != (wSrc < 0);
    bool mirrorY = (hDest < 0) != (hSrc < 0);

    // Source buffer column and row for every destination column and row of box; -1 where the
    // source lies outside what can be read, leaving the destination pixel as it was.
    std::vector<int64_t> columns(static_cast<size_t>(box.Width()));
    for (size_t i = 0; i < columns.size(); ++i) {
        int64_t s = srcRect.left + StretchIndex(box.left + static_cast<int64_t>(i) - dstRect.left,
                                                dstRect.Width(), srcRect.Width(), mirrorX);
        columns[i] = (s >= src.readable.left && s < src.readable.right) ? s : -1;
    }
    std::vector<int64_t> rows(static_cast<size_t>(box.Height()));
    for (size_t i = 0; i < rows.size(); ++i) {
        int64_t s = srcRect.top + StretchIndex(box.top + static_cast<int64_t>(i) - dstRect.top,
                                               dstRect.Height(), srcRect.Height(), mirrorY);
        rows[i] = (s >= src.readable.top && s < src.readable.bottom) ? s : -1;
    }
    // Computed in full before anything is written, so a stretch within one bitmap reads only
    // original pixels.
    std::vector<uint32_t> out(columns.size() * rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < columns.size(); ++c) {
            uint32_t d = *PixelAt(dst, box.left + static_cast<int64_t>(c),
                                  box.top + static_cast<int64_t>(r));
            if (rows[r] < 0 || columns[c] < 0) {
                out[r * columns.size() + c] = d;
                continue;
            }
            uint32_t s = *PixelAt(src, columns[c], rows[r]);
            out[r * columns.size() + c] = op.IsCopy() ? s : op.Apply(pattern, s, d);
        }
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        std::memcpy(PixelAt(dst, box.left, box.top + static_cast<int64_t>(r)),
                    &out[r * columns.size()], columns.size() * sizeof(uint32_t));
    }
    return TRUE;
} catch (const std::bad_alloc&) {
    return FALSE;  // no room for the copy of an overlapping or stretched block
}

BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    Rop op(rop);
    if (!op.valid || op.UsesSource()) return FALSE;
    State& state = State::Get();
    TableLock table(hdc);
    Target dst;
    if (!state.Resolve(hdc, table.Geometry(hdc), &dst)) return FALSE;
    uint32_t pattern = 0;
    if (op.UsesPattern() && !PatternOf(state, hdc, &pattern)) return TRUE;
    if (!dst.hasPixels) return TRUE;
    PixelLocks drawing({&dst});
    table.Release();
    Box box = Normalised(x, y, w, h).Offset(dst.originX, dst.originY).Intersect(dst.clip);
    for (int64_t row = box.top; row < box.bottom; ++row) {
        op.Row(PixelAt(dst, box.left, row), nullptr, pattern, static_cast<size_t>(box.Width()));
    }
    return TRUE;
}

namespace {

// Hands the pixel at logical (x, y) of hdc's bitmap to access under the state's lock;
// CLR_INVALID where the DC has no pixels or the point lies outside its clip.
template <typename Access>
COLORREF WithPixel(HDC hdc, int x, int y, Access access) {
    State& state = State::Get();
    TableLock table(hdc);
    Target t;
    if (!state.Resolve(hdc, table.Geometry(hdc), &t) || !t.hasPixels) return CLR_INVALID;
    PixelLocks drawing({&t});
    table.Release();
    int64_t bx = x + t.originX, by = y + t.originY;
    if (!Contains(t.clip, bx, by)) return CLR_INVALID;
    return access(*PixelAt(t, bx, by));
}

}  // namespace

COLORREF GetPixel(HDC hdc, int x, int y) {
    return WithPixel(hdc, x, y,
                     [](uint32_t& pixel) { return platform_gdi::ColorFromPixel(pixel); });
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
    return WithPixel(hdc, x, y, [color](uint32_t& pixel) {
        pixel = platform_gdi::PixelFromColor(color);
        return color & kPixelMask;
    });
}

int SetStretchBltMode(HDC hdc, int mode) {
    if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    DcObject* dc = state.Find<DcObject>(hdc);
    if (!dc) return 0;
    int previous = dc->stretchMode;
    dc->stretchMode = mode;
    return previous;
}

int GetStretchBltMode(HDC hdc) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    const DcObject* dc = state.Find<DcObject>(hdc);
    return dc ? dc->stretchMode : 0;
}

int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    if (!lprc) return 0;
    // As on the original, a brush may also be a system colour index plus one.
    auto value = reinterpret_cast<uintptr_t>(hbr);
    bool systemColor = value >= 1 && value <= kLastSystemColor + 1;
    COLORREF color = systemColor ? GetSysColor(static_cast<int>(value) - 1) : 0;
    State& state = State::Get();
    TableLock table(hDC);
    Target t;
    if (!state.Resolve(hDC, table.Geometry(hDC), &t)) return 0;
    if (!systemColor) {
        const BrushObject* brush = state.Find<BrushObject>(hbr);
        if (!brush) return 0;
        if (brush->hollow) return 1;
        color = brush->color;
    }
    PixelLocks drawing({&t});
    table.Release();
    FillBox(t, Box::FromRect(*lprc), platform_gdi::PixelFromColor(color));
    return 1;
}

namespace platform::internal {

void FillDCRect(HDC hdc, const RECT& rect, COLORREF color) {
    State& state = State::Get();
    TableLock table(hdc);
    Target t;
    if (!state.Resolve(hdc, table.Geometry(hdc), &t)) return;
    PixelLocks drawing({&t});
    table.Release();
    FillBox(t, Box::FromRect(rect), platform_gdi::PixelFromColor(color));
}

}  // namespace platform::internal
