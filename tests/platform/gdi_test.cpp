// GDI as the original behaves: memory DCs and their stock bitmap, selection, deletion rules,
// bit-block transfers and their clipping, window DCs over the top-level framebuffer, capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/pump.h"
#include "temp_dir.h"
#include "windows.h"

namespace {

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectDeleter {
    void operator()(void* object) const { DeleteObject(object); }
};
struct WindowDeleter {
    void operator()(HWND hwnd) const { DestroyWindow(hwnd); }
};
using OwnedDC = std::unique_ptr<HDC__, DcDeleter>;
using OwnedBitmap = std::unique_ptr<HBITMAP__, ObjectDeleter>;
using OwnedBrush = std::unique_ptr<HBRUSH__, ObjectDeleter>;
using OwnedWindow = std::unique_ptr<HWND__, WindowDeleter>;

// A memory DC with its own bitmap, put back the way the product releases its surfaces.
class Surface {
public:
    Surface(int width, int height)
        : dc_(CreateCompatibleDC(nullptr)), bitmap_(CreateCompatibleBitmap(dc_.get(), width, height)) {
        old_ = SelectObject(dc_.get(), bitmap_.get());
    }
    ~Surface() { SelectObject(dc_.get(), old_); }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    HDC dc() const { return dc_.get(); }

private:
    OwnedDC dc_;
    OwnedBitmap bitmap_;
    HGDIOBJ old_ = nullptr;
};

// Pictures as text, one character per pixel: each letter a distinct colour, '.' the colour a
// destination starts with, '?' any other colour; rows separated by '|'.
COLORREF ColorOf(char c) {
    return c == '.' ? RGB(1, 2, 3) : RGB(10 * (c - 'a' + 1), 255 - (c - 'a'), 100 + (c - 'a'));
}

void Paint(HDC dc, const std::string& picture) {
    int x = 0, y = 0;
    for (char c : picture) {
        if (c == '|') {
            x = 0, ++y;
        } else {
            SetPixel(dc, x++, y, ColorOf(c));
        }
    }
}

std::string Read(HDC dc, int width, int height) {
    std::string picture;
    for (int y = 0; y < height; ++y) {
        if (y) picture += '|';
        for (int x = 0; x < width; ++x) {
            COLORREF color = GetPixel(dc, x, y);
            char c = color == ColorOf('.') ? '.' : '?';
            for (char l = 'a'; l <= 'z'; ++l) c = ColorOf(l) == color ? l : c;
            picture += c;
        }
    }
    return picture;
}

BITMAP InfoOf(HGDIOBJ bitmap) {
    BITMAP bm{};
    EXPECT_EQ(static_cast<int>(sizeof bm), GetObject(bitmap, sizeof bm, &bm));
    return bm;
}

uint32_t PixelOf(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

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

TEST(GdiObjects, DeleteObjectRefusesWhatIsInUse) {
    OwnedDC dc(CreateCompatibleDC(nullptr));
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HBITMAP bitmap = CreateCompatibleBitmap(dc.get(), 1, 1);
    HGDIOBJ stockBrush = SelectObject(dc.get(), brush);
    HGDIOBJ stockBitmap = SelectObject(dc.get(), bitmap);
    struct Row {
        int line;
        HGDIOBJ object;
        BOOL expected;
    } rows[] = {
        {__LINE__, brush, FALSE},  {__LINE__, bitmap, FALSE},     // selected
        {__LINE__, stockBrush, FALSE}, {__LINE__, stockBitmap, FALSE},  // stock
        {__LINE__, dc.get(), FALSE},  // a DC goes with DeleteDC
        {__LINE__, nullptr, FALSE},
    };
    for (const Row& r : rows) EXPECT_EQ(r.expected, DeleteObject(r.object)) << "row at line " << r.line;
    SelectObject(dc.get(), stockBrush);
    SelectObject(dc.get(), stockBitmap);
    EXPECT_EQ(TRUE, DeleteObject(brush));
    EXPECT_EQ(TRUE, DeleteObject(bitmap));
    EXPECT_EQ(FALSE, DeleteObject(bitmap)) << "already gone";
}

TEST(GdiObjects, CompatibleBitmapSizes) {
    OwnedDC dc(CreateCompatibleDC(nullptr));
    struct Row {
        int line;
        int cx, cy;
        int width, height;  // 0: refused
    } rows[] = {
        {__LINE__, 3, 2, 3, 2},       {__LINE__, 0, 5, 1, 1},         {__LINE__, 5, 0, 1, 1},
        {__LINE__, 16384, 1, 16384, 1}, {__LINE__, 16385, 1, 0, 0},   {__LINE__, 8192, 4097, 0, 0},
        {__LINE__, -1, 4, 0, 0},      {__LINE__, INT_MAX, INT_MAX, 0, 0},
    };
    for (const Row& r : rows) {
        OwnedBitmap bitmap(CreateCompatibleBitmap(dc.get(), r.cx, r.cy));
        ASSERT_EQ(r.width != 0, bitmap != nullptr) << "row at line " << r.line;
        if (!bitmap) continue;
        BITMAP bm = InfoOf(bitmap.get());
        EXPECT_EQ(r.width, bm.bmWidth) << "row at line " << r.line;
        EXPECT_EQ(r.height, bm.bmHeight) << "row at line " << r.line;
        EXPECT_EQ(32, bm.bmBitsPixel) << "row at line " << r.line;
    }
}

TEST(GdiObjects, PixelLayoutAndDeviceCaps) {
    // A 32-bit pixel lies in memory as B, G, R, 0, as in a 32-bit DIB; new bitmaps are black.
    const uint32_t bits[] = {0x00112233u, 0};
    OwnedBitmap bitmap(CreateBitmap(2, 1, 1, 32, bits));
    OwnedDC dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
    EXPECT_EQ(RGB(0x11, 0x22, 0x33), GetPixel(dc.get(), 0, 0));
    EXPECT_EQ(CLR_INVALID, GetPixel(dc.get(), 2, 0));
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
        {__LINE__, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN,
         ".....|.....|.....|....."},
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
        {__LINE__, SRCCOPY | CAPTUREBLT, TRUE, s},    {__LINE__, SRCINVERT, TRUE, s ^ d},
        {__LINE__, SRCERASE, TRUE, s & ~d & white},   {__LINE__, MERGECOPY, TRUE, s & p},
        {__LINE__, NOTSRCCOPY, TRUE, ~s & white},     {__LINE__, PATINVERT, TRUE, p ^ d},
        {__LINE__, WHITENESS, TRUE, white},           {__LINE__, 0x00123456, FALSE, d},
    };
    Surface src(1, 1);
    SetPixel(src.dc(), 0, 0, s);
    OwnedBrush brush(CreateSolidBrush(p));
    for (const Row& r : rows) {
        Surface dst(1, 1);
        SetPixel(dst.dc(), 0, 0, d);
        HGDIOBJ old = SelectObject(dst.dc(), brush.get());
        EXPECT_EQ(r.result, BitBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, r.rop)) << "row at line " << r.line;
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
    EXPECT_EQ(0, FillRect(s.dc(), &top, nullptr));
    EXPECT_EQ(RGB(255, 0, 0), GetPixel(s.dc(), 2, 0));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(s.dc(), 0, 0));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetPixel(s.dc(), 0, 1));
}

TEST(Png, SavedPixelsLoadBackExactlyAndBadFilesAreRefused) {
    portrix_test::TempDir dir;
    std::vector<uint32_t> pixels;
    for (uint32_t i = 0; i < 7 * 5; ++i) pixels.push_back((i * 0x0903F1u) & 0xFFFFFFu);
    ASSERT_TRUE(platform::SavePixelsPng(pixels, 7, 5, dir / "good.png"));
    std::vector<uint32_t> loaded;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::LoadPng(dir / "good.png", &loaded, &width, &height));
    EXPECT_EQ(7, width);
    EXPECT_EQ(5, height);
    EXPECT_EQ(pixels, loaded);
    EXPECT_FALSE(platform::SavePixelsPng(pixels, 8, 5, dir / "short.png")) << "too few pixels";

    std::string png = dir.Read("good.png");
    for (const std::string& bad : {std::string(), std::string("GIF89a"), png.substr(0, 8),
                                   png.substr(0, png.size() - 20)}) {
        EXPECT_FALSE(platform::LoadPng(dir.Write("bad.png", bad), &loaded, &width, &height))
            << bad.size() << " bytes";
    }
    EXPECT_FALSE(platform::LoadPng(dir / "missing.png", &loaded, &width, &height));
}

// ---- Window DCs over the top-level framebuffer -------------------------------------------------

constexpr int kTopWidth = 40, kTopHeight = 30;
const COLORREF kMarker = RGB(9, 8, 7);
const COLORREF kInk = RGB(200, 30, 60);

OwnedWindow MakeTop() {
    return OwnedWindow(CreateWindowExA(0, "#32770", "top", WS_POPUP | WS_VISIBLE, 100, 100,
                                       kTopWidth, kTopHeight, nullptr, nullptr, nullptr, nullptr));
}

OwnedWindow MakeChild(HWND parent, int x, int y, int cx, int cy, DWORD visible = WS_VISIBLE) {
    return OwnedWindow(CreateWindowExA(0, "STATIC", "", WS_CHILD | visible, x, y, cx, cy, parent,
                                       nullptr, nullptr, nullptr));
}

void Fill(HDC dc, RECT rect, COLORREF color) {
    OwnedBrush brush(CreateSolidBrush(color));
    FillRect(dc, &rect, brush.get());
}

// Covers the whole top-level window with the marker colour through its own DC.
void Clear(HWND top) {
    HDC dc = GetDC(top);
    Fill(dc, RECT{0, 0, kTopWidth, kTopHeight}, kMarker);
    ReleaseDC(top, dc);
}

struct Captured {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Captured Capture(HWND hwnd) {
    Captured c;
    EXPECT_TRUE(platform::CaptureWindow(hwnd, &c.pixels, &c.width, &c.height));
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
    HDC dc = GetDC(child.get());
    EXPECT_EQ(0, ReleaseDC(top.get(), dc)) << "another window's DC is not released";

    Clear(top.get());
    SetWindowPos(child.get(), nullptr, 20, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(kInk, SetPixel(dc, 0, 0, kInk));
    EXPECT_EQ("20,10,21,11", InkedArea(top.get())) << "drawn where the window is now";

    Clear(top.get());
    ShowWindow(top.get(), SW_HIDE);
    Fill(dc, RECT{0, 0, 8, 6}, kInk);
    EXPECT_EQ("none", InkedArea(top.get())) << "a hidden window's DC draws nothing";
    ShowWindow(top.get(), SW_SHOW);

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
    EXPECT_EQ(1, ReleaseDC(gone, dc)) << "but it is still taken back";
}

TEST(GdiFramebuffer, ResizingKeepsWhatOverlaps) {
    OwnedWindow top = MakeTop();
    Clear(top.get());
    HDC dc = GetDC(top.get());
    SetPixel(dc, 1, 1, kInk);
    struct Row {
        int line;
        int cx, cy;
        POINT probe;
        COLORREF expected;
    } rows[] = {
        {__LINE__, 60, 50, {1, 1}, kInk},
        {__LINE__, 60, 50, {50, 40}, RGB(0, 0, 0)},  // new area starts black
        {__LINE__, 2, 2, {1, 1}, kInk},
        {__LINE__, 40, 30, {20, 20}, RGB(0, 0, 0)},  // cut off by the shrink
    };
    for (const Row& r : rows) {
        SetWindowPos(top.get(), nullptr, 0, 0, r.cx, r.cy, SWP_NOMOVE | SWP_NOZORDER);
        Captured c = Capture(top.get());
        ASSERT_EQ(r.cx * r.cy, c.width * c.height) << "row at line " << r.line;
        EXPECT_EQ(PixelOf(r.expected), c.At(r.probe.x, r.probe.y)) << "row at line " << r.line;
    }
    ReleaseDC(top.get(), dc);
}

// A host's dialog with a static control: the dialog paints itself, a picture is copied through
// a memory DC into the static control, and a PNG of the dialog shows exactly that.
TEST(GdiEndToEnd, DialogWithAStaticShowsTheBlittedPicture) {
    OwnedWindow dialog = MakeTop();
    OwnedWindow picture = MakeChild(dialog.get(), 12, 7, 10, 8);
    UpdateWindow(dialog.get());
    platform::PumpPendingMessages();

    Surface memory(4, 3);
    Paint(memory.dc(), "abcd|efgh|ijkl");
    HDC dc = GetDC(picture.get());
    ASSERT_EQ(TRUE, BitBlt(dc, 1, 2, 4, 3, memory.dc(), 0, 0, SRCCOPY));
    ReleaseDC(picture.get(), dc);

    portrix_test::TempDir dir;
    ASSERT_TRUE(platform::SaveWindowPng(dialog.get(), dir / "dialog.png"));
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::LoadPng(dir / "dialog.png", &pixels, &width, &height));
    ASSERT_EQ(kTopWidth, width);
    ASSERT_EQ(kTopHeight, height);

    std::vector<uint32_t> expected(kTopWidth * kTopHeight, PixelOf(GetSysColor(COLOR_BTNFACE)));
    for (int i = 0; i < 12; ++i) {
        expected[(7 + 2 + i / 4) * kTopWidth + 12 + 1 + i % 4] = PixelOf(ColorOf('a' + i));
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(expected[i], pixels[i]) << "pixel (" << i % kTopWidth << ", " << i / kTopWidth << ")";
    }

    // A child's capture is its area of the dialog, clipped to the dialog.
    Captured child = Capture(picture.get());
    ASSERT_EQ(10 * 8, child.width * child.height);
    EXPECT_EQ(PixelOf(ColorOf('a')), child.At(1, 2));
    SetWindowPos(picture.get(), nullptr, 36, 28, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    child = Capture(picture.get());
    EXPECT_EQ(4, child.width);
    EXPECT_EQ(2, child.height);
}

}  // namespace
