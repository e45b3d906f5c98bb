// GDI as the original behaves: memory DCs and their stock bitmap, selection, deletion rules,
// bit-block transfers and their clipping, window DCs over the top-level framebuffer.
// ctest-labels: win32
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "gdi_helpers.h"
#include "sides.h"
#include "windows.h"

namespace {

using namespace portrix_test;

BITMAP InfoOf(HGDIOBJ bitmap) {
    BITMAP bm{};
    EXPECT_EQ(static_cast<int>(sizeof bm), GetObject(bitmap, sizeof bm, &bm));
    return bm;
}

TEST(GdiMemoryDC, StockBitmapAndSelection) {
    OwnedDC first(CreateCompatibleDC(nullptr));
    OwnedDC second(CreateCompatibleDC(first.get()));
    HGDIOBJ stock = GetCurrentObject(first.get(), OBJ_BITMAP);
    EXPECT_EQ(stock, GetCurrentObject(second.get(), OBJ_BITMAP)) << "one shared stock bitmap";
    EXPECT_EQ(1, InfoOf(stock).bmWidth);
    EXPECT_EQ(1, InfoOf(stock).bmHeight);

    OwnedBitmap a(CreateCompatibleBitmap(first.get(), 4, 4));
    OwnedBitmap b(CreateCompatibleBitmap(first.get(), 4, 4));
    EXPECT_EQ(stock, SelectObject(first.get(), a.get()));
    EXPECT_EQ(a.get(), SelectObject(first.get(), b.get()));
    EXPECT_EQ(nullptr, SelectObject(second.get(), b.get())) << "b lives in the first DC";
    EXPECT_EQ(stock, SelectObject(second.get(), a.get()));
    first.reset();  // deleting a DC frees its bitmap, which survives it
    EXPECT_EQ(a.get(), SelectObject(second.get(), b.get()));
    EXPECT_EQ(b.get(), SelectObject(second.get(), stock));
}

TEST(GdiObjects, DeleteObjectOfWhatIsInUseWaitsForItsRelease) {
    OwnedDC dc(CreateCompatibleDC(nullptr));
    OwnedDC other(CreateCompatibleDC(nullptr));
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HBITMAP bitmap = ScreenBitmap(1, 1);
    HGDIOBJ stockBrush = SelectObject(dc.get(), brush);
    HGDIOBJ stockBitmap = SelectObject(dc.get(), bitmap);
    SelectObject(other.get(), brush);
    struct Row {
        int line;
        HGDIOBJ object;
        BOOL expected;
    } rows[] = {
        {__LINE__, brush, TRUE},      {__LINE__, bitmap, TRUE},  // selected: deleted once released
        {__LINE__, stockBrush, TRUE}, {__LINE__, stockBitmap, TRUE},  // stock: no harm done
        {__LINE__, nullptr, FALSE},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.expected, DeleteObject(r.object)) << "row at line " << r.line;
    // Still usable where selected: the DC draws with them until it lets go.
    RECT pixel{0, 0, 1, 1};
    EXPECT_EQ(1, FillRect(dc.get(), &pixel, brush));
    EXPECT_EQ(RGB(1, 2, 3), GetPixel(dc.get(), 0, 0));
    EXPECT_EQ(bitmap, SelectObject(dc.get(), stockBitmap));
    EXPECT_EQ(0u, GetObjectType(bitmap)) << "gone once deselected";
    EXPECT_EQ(brush, SelectObject(dc.get(), stockBrush));
    EXPECT_EQ(DWORD(OBJ_BRUSH), GetObjectType(brush)) << "another DC still holds it";
    other.reset();
    EXPECT_EQ(0u, GetObjectType(brush)) << "gone with the last DC that held it";
    EXPECT_EQ(FALSE, DeleteObject(bitmap)) << "already gone";
    EXPECT_EQ(DWORD(OBJ_BITMAP), GetObjectType(stockBitmap)) << "stock objects stay";
    if (NotUnderWine("a DC",
                     "Wine 8.0 deletes a DC passed to DeleteObject, which takes only objects")) {
        OwnedDC spare(CreateCompatibleDC(nullptr));
        EXPECT_EQ(FALSE, DeleteObject(spare.get())) << "a DC goes with DeleteDC";
    }
}

constexpr char kSizeLimit[] = "the layer refuses bitmaps over 16384 pixels a side or 32 Mi pixels";

TEST(GdiObjects, CompatibleBitmapSizes) {
    HDC screen = GetDC(nullptr);
    OwnedDC memory(CreateCompatibleDC(nullptr));
    struct Row {
        int line;
        HDC dc;
        int cx, cy;
        int width, height;  // 0: refused
        bool monochromeOnTheOriginal;
        const char* layerOnly;  // why the original differs, or null
    } rows[] = {
        {__LINE__, screen, 3, 2, 3, 2, false, nullptr},
        {__LINE__, screen, 0, 5, 1, 1, true, nullptr},
        {__LINE__, screen, 5, 0, 1, 1, true, nullptr},
        {__LINE__, screen, 16384, 1, 16384, 1, false, nullptr},
        {__LINE__, screen, 16385, 1, 0, 0, false, kSizeLimit},
        {__LINE__, screen, 8192, 4097, 0, 0, false, kSizeLimit},
        {__LINE__, screen, -1, 4, 0, 0, false,
         "the layer refuses a negative width; Wine 8.0 makes a bitmap"},
        {__LINE__, screen, INT_MAX, INT_MAX, 0, 0, false, nullptr},
        {__LINE__, memory.get(), 3, 2, 3, 2, true, nullptr},  // the DC's stock bitmap is monochrome
    };
    for (const Row& r : rows) {
        const std::string row = "row at line " + std::to_string(r.line);
        if (r.layerOnly && !LayerOnly(row, r.layerOnly)) continue;
        OwnedBitmap bitmap(CreateCompatibleBitmap(r.dc, r.cx, r.cy));
        ASSERT_EQ(r.width != 0, bitmap != nullptr) << row;
        if (!bitmap) continue;
        BITMAP bm = InfoOf(bitmap.get());
        EXPECT_EQ(r.width, bm.bmWidth) << row;
        EXPECT_EQ(r.height, bm.bmHeight) << row;
        if (!r.monochromeOnTheOriginal ||
            LayerOnly(row, "every bitmap has 32 bits a pixel; the original's is monochrome here")) {
            EXPECT_EQ(32, bm.bmBitsPixel) << row;
        }
    }
    ReleaseDC(nullptr, screen);
}

TEST(GdiObjects, PixelLayoutAndDeviceCaps) {
    // A 32-bit pixel lies in memory as B, G, R, 0, as in a 32-bit DIB; new bitmaps are black.
    const uint32_t bits[] = {0x00112233u, 0};
    OwnedBitmap bitmap(CreateBitmap(2, 1, 1, 32, bits));
    OwnedDC dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
    EXPECT_EQ(RGB(0x11, 0x22, 0x33), GetPixel(dc.get(), 0, 0));
    EXPECT_EQ(CLR_INVALID, GetPixel(dc.get(), 2, 0));
    if (NotUnderWine("SetPixel outside",
                     "SetPixel fails with -1 outside the clipping region (Microsoft's SetPixel "
                     "documentation); Wine 8.0 returns the colour")) {
        EXPECT_EQ(CLR_INVALID, SetPixel(dc.get(), 2, 0, RGB(1, 2, 3))) << "outside the bitmap";
    }
    SelectObject(dc.get(), old);

    HDC screen = GetDC(nullptr);
    for (HDC each : {dc.get(), screen}) {
        EXPECT_EQ(96, GetDeviceCaps(each, LOGPIXELSX));
        EXPECT_EQ(96, GetDeviceCaps(each, LOGPIXELSY));
        EXPECT_EQ(32, GetDeviceCaps(each, BITSPIXEL));
    }
    EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

TEST(GdiDeadHandles, FailCleanly) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 2, 2);
    DeleteDC(dc);
    DeleteObject(bitmap);
    Surface live(1, 1);
    EXPECT_EQ(nullptr, SelectObject(live.dc(), bitmap));
    EXPECT_EQ(FALSE, BitBlt(live.dc(), 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(FALSE, BitBlt(dc, 0, 0, 1, 1, live.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(CLR_INVALID, GetPixel(dc, 0, 0));
    EXPECT_EQ(0, ReleaseDC(nullptr, live.dc())) << "a memory DC is not released";
}

TEST(GdiBitBlt, CopiesClippedToSourceAndDestination) {
    struct Row {
        int line;
        int x, y, cx, cy, xs, ys;
        const char* expected;  // the 5x4 destination
    } rows[] = {
        {__LINE__, 0, 0, 4, 3, 0, 0, "abcd.|efgh.|ijkl.|....."},
        {__LINE__, 1, 1, 2, 2, 1, 0, ".....|.bc..|.fg..|....."},
        {__LINE__, 3, 2, 4, 3, 0, 0, ".....|.....|...ab|...ef"},    // beyond the destination
        {__LINE__, -2, -1, 4, 3, 0, 0, "gh...|kl...|.....|....."},  // negative destination
        {__LINE__, 0, 0, 4, 3, 2, 1, "gh...|kl...|.....|....."},    // beyond the source
        {__LINE__, 0, 0, 4, 3, -1, -1, ".....|.abc.|.efg.|....."},  // negative source
        {__LINE__, 0, 0, 0, 3, 0, 0, ".....|.....|.....|....."},
        {__LINE__, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, ".....|.....|.....|....."},
    };
    Surface src(4, 3);
    Paint(src.dc(), "abcd|efgh|ijkl");
    for (const Row& r : rows) {
        Surface dst(5, 4);
        Paint(dst.dc(), ".....|.....|.....|.....");
        EXPECT_EQ(TRUE, BitBlt(dst.dc(), r.x, r.y, r.cx, r.cy, src.dc(), r.xs, r.ys, SRCCOPY))
            << "row at line " << r.line;
        EXPECT_EQ(r.expected, Read(dst.dc(), 5, 4)) << "row at line " << r.line;
    }
}

TEST(GdiBitBlt, OverlappingCopyWithinOneBitmap) {
    struct Row {
        int line;
        int x, y, cx, cy, xs, ys;
        const char* expected;
    } rows[] = {
        {__LINE__, 2, 0, 4, 1, 0, 0, "ababcd|ghijkl|mnopqr"},  // rightwards
        {__LINE__, 0, 0, 4, 1, 2, 0, "cdefef|ghijkl|mnopqr"},  // leftwards
        {__LINE__, 0, 1, 6, 2, 0, 0, "abcdef|abcdef|ghijkl"},  // downwards
        {__LINE__, 1, 0, 5, 2, 0, 1, "aghijk|gmnopq|mnopqr"},  // up and right
    };
    for (const Row& r : rows) {
        Surface s(6, 3);
        Paint(s.dc(), "abcdef|ghijkl|mnopqr");
        BitBlt(s.dc(), r.x, r.y, r.cx, r.cy, s.dc(), r.xs, r.ys, SRCCOPY);
        EXPECT_EQ(r.expected, Read(s.dc(), 6, 3)) << "row at line " << r.line;
    }
}

TEST(GdiBitBlt, RasterOperations) {
    const COLORREF s = RGB(0xF0, 0x0F, 0x55), d = RGB(0xCC, 0x33, 0xAA), p = RGB(0x12, 0x34, 0x56);
    const COLORREF white = RGB(255, 255, 255);
    struct Row {
        int line;
        DWORD rop;
        BOOL result;
        COLORREF expected;
    } rows[] = {
        {__LINE__, SRCCOPY | CAPTUREBLT, TRUE, s},  {__LINE__, SRCINVERT, TRUE, s ^ d},
        {__LINE__, SRCERASE, TRUE, s & ~d & white}, {__LINE__, MERGECOPY, TRUE, s & p},
        {__LINE__, NOTSRCCOPY, TRUE, ~s & white},   {__LINE__, PATINVERT, TRUE, p ^ d},
        {__LINE__, WHITENESS, TRUE, white},         {__LINE__, 0x00123456, FALSE, d},  // last
    };
    Surface src(1, 1);
    SetPixel(src.dc(), 0, 0, s);
    OwnedBrush brush(CreateSolidBrush(p));
    for (const Row& r : rows) {
        if (r.rop == 0x00123456 &&
            !LayerOnly("row at line " + std::to_string(r.line),
                       "the layer does only the named raster operations; the "
                       "original does all 256 by their index"))
            continue;
        Surface dst(1, 1);
        SetPixel(dst.dc(), 0, 0, d);
        HGDIOBJ old = SelectObject(dst.dc(), brush.get());
        EXPECT_EQ(r.result, BitBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, r.rop))
            << "row at line " << r.line;
        EXPECT_EQ(r.expected, GetPixel(dst.dc(), 0, 0)) << "row at line " << r.line;
        SelectObject(dst.dc(), old);
    }
    Surface dst(1, 1);
    EXPECT_EQ(TRUE, BitBlt(dst.dc(), 0, 0, 1, 1, nullptr, 0, 0, BLACKNESS)) << "needs no source";
    EXPECT_EQ(FALSE, BitBlt(dst.dc(), 0, 0, 1, 1, nullptr, 0, 0, SRCCOPY));
}

TEST(GdiStretchBlt, ScalesAndMirrorsByNearestPixel) {
    struct Row {
        int line;
        int x, y, w, h;  // over a 4x2 destination; the source is all of "ab|cd"
        const char* expected;
    } rows[] = {
        {__LINE__, 0, 0, 4, 2, "aabb|ccdd"},
        {__LINE__, 3, 1, -4, -2, "ddcc|bbaa"},  // negative extents mirror, ending at x and y
        {__LINE__, 1, 0, 1, 1, ".a..|...."},
        {__LINE__, 2, 1, 4, 4, "....|..aa"},
    };
    Surface src(2, 2);
    Paint(src.dc(), "ab|cd");
    for (const Row& r : rows) {
        Surface dst(4, 2);
        Paint(dst.dc(), "....|....");
        StretchBlt(dst.dc(), r.x, r.y, r.w, r.h, src.dc(), 0, 0, 2, 2, SRCCOPY);
        EXPECT_EQ(r.expected, Read(dst.dc(), 4, 2)) << "row at line " << r.line;
    }
}

TEST(GdiFill, SolidStockAndSystemColourBrushes) {
    Surface s(3, 2);
    OwnedBrush red(CreateSolidBrush(RGB(255, 0, 0)));
    RECT top{1, 0, 9, 1}, corner{0, 1, 1, 2};
    EXPECT_EQ(1, FillRect(s.dc(), &top, red.get()));
    EXPECT_EQ(1, FillRect(s.dc(), &corner, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)));
    EXPECT_EQ(1, FillRect(s.dc(), &top, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))));
    EXPECT_EQ(RGB(255, 0, 0), GetPixel(s.dc(), 2, 0));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(s.dc(), 0, 0));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetPixel(s.dc(), 0, 1));
    if (NotUnderWine("null brush", "Wine 8.0 takes a null brush for a system colour and fills")) {
        EXPECT_EQ(0, FillRect(s.dc(), &top, nullptr));
    }
}

// ---- Window DCs over the top-level framebuffer -------------------------------------------------

// A window's client area as its own DC reads it back.
Captured Capture(HWND hwnd) {
    Captured c;
    RECT client{};
    GetClientRect(hwnd, &client);
    c.width = client.right;
    c.height = client.bottom;
    HDC dc = GetDC(hwnd);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) c.pixels.push_back(PixelOf(GetPixel(dc, x, y)));
    }
    ReleaseDC(hwnd, dc);
    return c;
}

// "left,top,right,bottom" of the ink on the top-level window; "none" without ink; "torn" when
// the ink is not one solid rectangle on the marker colour.
std::string InkedArea(HWND top) {
    Captured c = Capture(top);
    int left = INT_MAX, upper = INT_MAX, right = -1, bottom = -1, inked = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            if (c.At(x, y) == PixelOf(kMarker)) continue;
            if (c.At(x, y) != PixelOf(kInk)) return "torn";
            ++inked;
            left = std::min(left, x), upper = std::min(upper, y);
            right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
        }
    }
    if (!inked) return "none";
    if (inked != (right - left) * (bottom - upper)) return "torn";
    return std::to_string(left) + "," + std::to_string(upper) + "," + std::to_string(right) + "," +
           std::to_string(bottom);
}

TEST(GdiWindowDC, DrawsOnlyOnTheVisibleClientAreaOfItsWindow) {
    OwnedWindow top = MakeTop();
    ASSERT_NE(nullptr, top.get());
    struct Row {
        int line;
        int x, y, cx, cy;  // the child, in the top-level client area
        DWORD visible;
        RECT fill;             // drawn with the child's DC, in child coordinates
        const char* expected;  // inked area of the top-level window
    } rows[] = {
        {__LINE__, 10, 5, 8, 6, WS_VISIBLE, {-5, -5, 100, 100}, "10,5,18,11"},
        {__LINE__, 10, 5, 8, 6, WS_VISIBLE, {2, 1, 4, 3}, "12,6,14,8"},
        {__LINE__, 35, 25, 10, 10, WS_VISIBLE, {0, 0, 10, 10}, "35,25,40,30"},  // parent clips
        {__LINE__, -4, -3, 8, 8, WS_VISIBLE, {0, 0, 8, 8}, "0,0,4,5"},
        {__LINE__, 10, 5, 8, 6, 0, {0, 0, 8, 6}, "none"},            // hidden
        {__LINE__, 50, 50, 5, 5, WS_VISIBLE, {0, 0, 5, 5}, "none"},  // outside the parent
    };
    for (const Row& r : rows) {
        OwnedWindow child = MakeChild(top.get(), r.x, r.y, r.cx, r.cy, r.visible);
        Clear(top.get());
        HDC dc = GetDC(child.get());
        ASSERT_NE(nullptr, dc) << "row at line " << r.line;
        Fill(dc, r.fill, kInk);
        EXPECT_EQ(1, ReleaseDC(child.get(), dc)) << "row at line " << r.line;
        EXPECT_EQ(r.expected, InkedArea(top.get())) << "row at line " << r.line;
    }
}

TEST(GdiWindowDC, FollowsItsWindowItsVisibilityAndItsPaintClip) {
    OwnedWindow top = MakeTop();
    OwnedWindow child = MakeChild(top.get(), 10, 5, 8, 6);
    if (NotUnderWine("another window", "Wine 8.0 releases a DC whatever window is named")) {
        HDC other = GetDC(child.get());
        EXPECT_EQ(0, ReleaseDC(top.get(), other)) << "another window's DC is not released";
        ReleaseDC(child.get(), other);
    }
    HDC dc = GetDC(child.get());

    Clear(top.get());
    SetWindowPos(child.get(), nullptr, 20, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(kInk, SetPixel(dc, 0, 0, kInk));
    EXPECT_EQ("20,10,21,11", InkedArea(top.get())) << "drawn where the window is now";

    if (LayerOnly("hidden", "the original keeps no pixels of a hidden window to look at")) {
        Clear(top.get());
        ShowWindow(top.get(), SW_HIDE);
        Fill(dc, RECT{0, 0, 8, 6}, kInk);
        ShowWindow(top.get(), SW_SHOW);
        EXPECT_EQ("none", InkedArea(top.get())) << "a hidden window's DC draws nothing";
    }

    Clear(top.get());
    ValidateRect(top.get(), nullptr);
    RECT update{5, 4, 12, 9};
    InvalidateRect(top.get(), &update, FALSE);
    PAINTSTRUCT ps{};
    Fill(BeginPaint(top.get(), &ps), RECT{0, 0, kTopWidth, kTopHeight}, kInk);
    EndPaint(top.get(), &ps);
    EXPECT_EQ("5,4,12,9", InkedArea(top.get())) << "a paint DC keeps to the update rectangle";

    HWND gone = child.get();
    child.reset();
    EXPECT_EQ(CLR_INVALID, SetPixel(dc, 1, 1, kInk)) << "its window is gone";
    if (LayerOnly("window gone",
                  "the layer still takes back a DC whose window is gone; Wine 8.0 "
                  "released it with the window")) {
        EXPECT_EQ(1, ReleaseDC(gone, dc)) << "but it is still taken back";
    }
}

}  // namespace
