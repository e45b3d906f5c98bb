// GDI as the original behaves: memory DCs and their stock bitmap, selection, deletion rules,
// bit-block transfers and their clipping, window DCs over the top-level framebuffer, capture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/pump.h"
#include "windows.h"

namespace {

// Owning handles.
struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ObjectDeleter {
    void operator()(void* object) const { DeleteObject(object); }
};
using OwnedDC = std::unique_ptr<HDC__, DcDeleter>;
using OwnedBitmap = std::unique_ptr<HBITMAP__, ObjectDeleter>;
using OwnedBrush = std::unique_ptr<HBRUSH__, ObjectDeleter>;

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
    HBITMAP bitmap() const { return bitmap_.get(); }

private:
    OwnedDC dc_;
    OwnedBitmap bitmap_;
    HGDIOBJ old_ = nullptr;
};

// Pictures as text: one character per pixel, each letter a distinct colour, '.' the marker colour
// that a destination starts with, '?' a colour no letter has.
COLORREF ColorOf(char c) {
    if (c == '.') return RGB(1, 2, 3);
    return RGB(10 * (c - 'a' + 1), 255 - (c - 'a'), 100 + (c - 'a'));
}

void Paint(HDC dc, const std::vector<std::string>& rows) {
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            SetPixel(dc, static_cast<int>(x), static_cast<int>(y), ColorOf(rows[y][x]));
        }
    }
}

char CharOf(COLORREF color) {
    if (color == ColorOf('.')) return '.';
    for (char c = 'a'; c <= 'z'; ++c) {
        if (ColorOf(c) == color) return c;
    }
    return '?';
}

std::string Read(HDC dc, int width, int height) {
    std::string picture;
    for (int y = 0; y < height; ++y) {
        if (y) picture += '|';
        for (int x = 0; x < width; ++x) picture += CharOf(GetPixel(dc, x, y));
    }
    return picture;
}

BITMAP InfoOf(HGDIOBJ bitmap) {
    BITMAP bm{};
    EXPECT_EQ(static_cast<int>(sizeof bm), GetObject(bitmap, sizeof bm, &bm));
    return bm;
}

TEST(GdiMemoryDC, StartsWithTheSharedOneByOneStockBitmap) {
    OwnedDC first(CreateCompatibleDC(nullptr));
    OwnedDC second(CreateCompatibleDC(first.get()));
    ASSERT_TRUE(first && second);
    HGDIOBJ stock = GetCurrentObject(first.get(), OBJ_BITMAP);
    ASSERT_NE(nullptr, stock);
    EXPECT_EQ(stock, GetCurrentObject(second.get(), OBJ_BITMAP));
    BITMAP bm = InfoOf(stock);
    EXPECT_EQ(1, bm.bmWidth);
    EXPECT_EQ(1, bm.bmHeight);
    EXPECT_EQ(OBJ_MEMDC, GetObjectType(first.get()));
    EXPECT_EQ(OBJ_BITMAP, GetObjectType(stock));

    OwnedBitmap a(CreateCompatibleBitmap(first.get(), 4, 4));
    OwnedBitmap b(CreateCompatibleBitmap(first.get(), 4, 4));
    EXPECT_EQ(stock, SelectObject(first.get(), a.get()));
    EXPECT_EQ(a.get(), SelectObject(first.get(), b.get()));
    EXPECT_EQ(b.get(), SelectObject(first.get(), b.get())) << "reselecting gives itself";
    EXPECT_EQ(b.get(), SelectObject(first.get(), stock));
    EXPECT_EQ(FALSE, DeleteObject(stock));
    EXPECT_EQ(stock, GetCurrentObject(second.get(), OBJ_BITMAP)) << "still alive";
}

TEST(GdiMemoryDC, ABitmapLivesInOneDCAtATime) {
    OwnedDC first(CreateCompatibleDC(nullptr));
    OwnedDC second(CreateCompatibleDC(nullptr));
    OwnedBitmap bitmap(CreateCompatibleBitmap(first.get(), 2, 2));
    HGDIOBJ stock = SelectObject(first.get(), bitmap.get());
    EXPECT_EQ(nullptr, SelectObject(second.get(), bitmap.get()));
    EXPECT_EQ(FALSE, DeleteObject(bitmap.get())) << "selected";
    first.reset();  // deleting the DC frees the bitmap, which survives it
    EXPECT_EQ(stock, SelectObject(second.get(), bitmap.get()));
    EXPECT_EQ(bitmap.get(), SelectObject(second.get(), stock));
    EXPECT_EQ(TRUE, DeleteObject(bitmap.release()));
}

TEST(GdiObjects, DeleteObjectRefusesWhatIsInUse) {
    OwnedDC dc(CreateCompatibleDC(nullptr));
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HBRUSH spare = CreateSolidBrush(RGB(4, 5, 6));
    HBITMAP free = CreateCompatibleBitmap(dc.get(), 1, 1);
    HGDIOBJ stockBrush = SelectObject(dc.get(), brush);
    struct Row {
        int line;
        HGDIOBJ object;
        BOOL expected;
    } rows[] = {
        {__LINE__, brush, FALSE},                     // selected into a DC
        {__LINE__, stockBrush, FALSE},                // stock
        {__LINE__, GetStockObject(BLACK_PEN), FALSE}, // stock
        {__LINE__, dc.get(), FALSE},                  // a DC is deleted with DeleteDC
        {__LINE__, nullptr, FALSE},
        {__LINE__, spare, TRUE},
        {__LINE__, spare, FALSE},  // already gone
        {__LINE__, free, TRUE},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.expected, DeleteObject(r.object)) << "row at line " << r.line;
    }
    EXPECT_EQ(brush, SelectObject(dc.get(), stockBrush));
    EXPECT_EQ(TRUE, DeleteObject(brush)) << "deletable once deselected";
}

TEST(GdiObjects, CompatibleBitmapSizes) {
    OwnedDC dc(CreateCompatibleDC(nullptr));
    struct Row {
        int line;
        int cx, cy;
        int width, height;  // 0: refused
    } rows[] = {
        {__LINE__, 3, 2, 3, 2},          {__LINE__, 0, 5, 1, 1},
        {__LINE__, 5, 0, 1, 1},          {__LINE__, 16384, 1, 16384, 1},
        {__LINE__, 16385, 1, 0, 0},      {__LINE__, 1, 16385, 0, 0},
        {__LINE__, 8192, 4097, 0, 0},    {__LINE__, -1, 4, 0, 0},
        {__LINE__, INT_MAX, INT_MAX, 0, 0}, {__LINE__, INT_MIN, 2, 0, 0},
    };
    for (const Row& r : rows) {
        OwnedBitmap bitmap(CreateCompatibleBitmap(dc.get(), r.cx, r.cy));
        if (r.width == 0) {
            EXPECT_EQ(nullptr, bitmap.get()) << "row at line " << r.line;
            continue;
        }
        ASSERT_NE(nullptr, bitmap.get()) << "row at line " << r.line;
        BITMAP bm = InfoOf(bitmap.get());
        EXPECT_EQ(r.width, bm.bmWidth) << "row at line " << r.line;
        EXPECT_EQ(r.height, bm.bmHeight) << "row at line " << r.line;
        EXPECT_EQ(32, bm.bmBitsPixel) << "row at line " << r.line;
    }
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(nullptr, 2, 2));
}

TEST(GdiObjects, ColoursRoundTripAndNewBitmapsAreBlack) {
    Surface s(3, 1);
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(s.dc(), 2, 0));
    EXPECT_EQ(RGB(0x12, 0x34, 0x56), SetPixel(s.dc(), 0, 0, RGB(0x12, 0x34, 0x56)));
    EXPECT_EQ(RGB(0x12, 0x34, 0x56), GetPixel(s.dc(), 0, 0));
    EXPECT_EQ(CLR_INVALID, GetPixel(s.dc(), 3, 0));
    EXPECT_EQ(CLR_INVALID, SetPixel(s.dc(), -1, 0, 0));

    // Memory order of a 32-bit pixel is B, G, R, 0, as in a 32-bit DIB.
    const uint32_t bits[] = {0x00112233u};
    OwnedBitmap fromBits(CreateBitmap(1, 1, 1, 32, bits));
    OwnedDC dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), fromBits.get());
    EXPECT_EQ(RGB(0x11, 0x22, 0x33), GetPixel(dc.get(), 0, 0));
    SelectObject(dc.get(), old);
    EXPECT_EQ(nullptr, CreateBitmap(1, 1, 1, 8, bits));
}

TEST(GdiDeviceCaps, ReportsA96DpiTrueColourDisplay) {
    OwnedDC memory(CreateCompatibleDC(nullptr));
    HDC screen = GetDC(nullptr);
    ASSERT_NE(nullptr, screen);
    struct Row {
        int line;
        int index;
        int expected;  // -2: any positive value
    } rows[] = {
        {__LINE__, LOGPIXELSX, 96}, {__LINE__, LOGPIXELSY, 96}, {__LINE__, BITSPIXEL, 32},
        {__LINE__, PLANES, 1},      {__LINE__, HORZRES, -2},    {__LINE__, VERTRES, -2},
        {__LINE__, 9999, 0},
    };
    for (HDC dc : {memory.get(), screen}) {
        for (const Row& r : rows) {
            int actual = GetDeviceCaps(dc, r.index);
            if (r.expected == -2) {
                EXPECT_GT(actual, 0) << "row at line " << r.line;
            } else {
                EXPECT_EQ(r.expected, actual) << "row at line " << r.line;
            }
        }
    }
    EXPECT_EQ(0, GetDeviceCaps(nullptr, LOGPIXELSX));
    EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

TEST(GdiDeadHandles, FailCleanly) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 2, 2);
    ASSERT_EQ(TRUE, DeleteDC(dc));
    ASSERT_EQ(TRUE, DeleteObject(bitmap));
    OwnedDC live(CreateCompatibleDC(nullptr));
    EXPECT_EQ(FALSE, DeleteDC(dc));
    EXPECT_EQ(nullptr, SelectObject(live.get(), bitmap));
    EXPECT_EQ(nullptr, SelectObject(dc, GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(FALSE, BitBlt(live.get(), 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(FALSE, BitBlt(dc, 0, 0, 1, 1, live.get(), 0, 0, SRCCOPY));
    EXPECT_EQ(CLR_INVALID, GetPixel(dc, 0, 0));
    EXPECT_EQ(0, GetObject(bitmap, sizeof(BITMAP), nullptr));
    EXPECT_EQ(0u, GetObjectType(bitmap));
    EXPECT_EQ(nullptr, CreateCompatibleDC(dc));
    EXPECT_EQ(0, ReleaseDC(nullptr, live.get())) << "a memory DC is not released";
}

TEST(GdiBitBlt, CopiesClippedToSourceAndDestination) {
    const std::vector<std::string> source = {"abcd", "efgh", "ijkl"};
    struct Row {
        int line;
        int x, y, cx, cy, xs, ys;
        const char* expected;  // the 5x4 destination, rows separated by '|'
    } rows[] = {
        {__LINE__, 0, 0, 4, 3, 0, 0, "abcd.|efgh.|ijkl.|....."},
        {__LINE__, 1, 1, 4, 3, 0, 0, ".....|.abcd|.efgh|.ijkl"},
        {__LINE__, 1, 1, 2, 2, 1, 0, ".....|.bc..|.fg..|....."},
        {__LINE__, 3, 2, 4, 3, 0, 0, ".....|.....|...ab|...ef"},    // beyond the destination
        {__LINE__, -2, -1, 4, 3, 0, 0, "gh...|kl...|.....|....."},  // negative destination
        {__LINE__, 0, 0, 4, 3, 2, 1, "gh...|kl...|.....|....."},    // beyond the source
        {__LINE__, 0, 0, 4, 3, -1, -1, ".....|.abc.|.efg.|....."},  // negative source
        {__LINE__, 0, 0, 5, 4, 0, 0, "abcd.|efgh.|ijkl.|....."},    // larger than the source
        {__LINE__, 0, 0, 0, 3, 0, 0, ".....|.....|.....|....."},
        {__LINE__, 9, 9, 4, 3, 0, 0, ".....|.....|.....|....."},
        {__LINE__, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN,
         ".....|.....|.....|....."},
    };
    Surface src(4, 3);
    Paint(src.dc(), source);
    for (const Row& r : rows) {
        Surface dst(5, 4);
        Paint(dst.dc(), {".....", ".....", ".....", "....."});
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
        Paint(s.dc(), {"abcdef", "ghijkl", "mnopqr"});
        EXPECT_EQ(TRUE, BitBlt(s.dc(), r.x, r.y, r.cx, r.cy, s.dc(), r.xs, r.ys, SRCCOPY))
            << "row at line " << r.line;
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
        {__LINE__, SRCCOPY, TRUE, s},
        {__LINE__, SRCCOPY | CAPTUREBLT, TRUE, s},
        {__LINE__, NOTSRCCOPY, TRUE, ~s & white},
        {__LINE__, SRCAND, TRUE, s & d},
        {__LINE__, SRCPAINT, TRUE, s | d},
        {__LINE__, SRCINVERT, TRUE, s ^ d},
        {__LINE__, SRCERASE, TRUE, s & ~d & white},
        {__LINE__, MERGECOPY, TRUE, s & p},
        {__LINE__, DSTINVERT, TRUE, ~d & white},
        {__LINE__, PATCOPY, TRUE, p},
        {__LINE__, PATINVERT, TRUE, p ^ d},
        {__LINE__, BLACKNESS, TRUE, 0},
        {__LINE__, WHITENESS, TRUE, white},
        {__LINE__, 0x00123456, FALSE, d},
        {__LINE__, 0, FALSE, d},
    };
    Surface src(1, 1);
    SetPixel(src.dc(), 0, 0, s);
    OwnedBrush brush(CreateSolidBrush(p));
    for (const Row& r : rows) {
        Surface dst(1, 1);
        SetPixel(dst.dc(), 0, 0, d);
        HGDIOBJ old = SelectObject(dst.dc(), brush.get());
        EXPECT_EQ(r.result, BitBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, r.rop))
            << "row at line " << r.line;
        EXPECT_EQ(r.expected, GetPixel(dst.dc(), 0, 0)) << "row at line " << r.line;
        SelectObject(dst.dc(), old);
    }
    // Operations that read no source accept a null source DC; the others refuse it.
    Surface dst(1, 1);
    EXPECT_EQ(TRUE, BitBlt(dst.dc(), 0, 0, 1, 1, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(FALSE, BitBlt(dst.dc(), 0, 0, 1, 1, nullptr, 0, 0, SRCCOPY));
    EXPECT_EQ(FALSE, PatBlt(dst.dc(), 0, 0, 1, 1, SRCCOPY));
}

TEST(GdiStretchBlt, ScalesAndMirrorsByNearestPixel) {
    struct Row {
        int line;
        int x, y, w, h;  // destination, over a 4x2 surface; the source is all of "ab|cd"
        const char* expected;
    } rows[] = {
        {__LINE__, 0, 0, 4, 2, "aabb|ccdd"},
        {__LINE__, 3, 0, -4, 2, "bbaa|ddcc"},  // a negative extent mirrors, ending at x
        {__LINE__, 0, 1, 4, -2, "ccdd|aabb"},
        {__LINE__, 1, 0, 1, 1, ".a..|...."},   // shrinking keeps the first pixel
        {__LINE__, 2, 1, 4, 4, "....|..aa"},   // clipped to the destination
    };
    Surface src(2, 2);
    Paint(src.dc(), {"ab", "cd"});
    for (const Row& r : rows) {
        Surface dst(4, 2);
        Paint(dst.dc(), {"....", "...."});
        EXPECT_EQ(TRUE, StretchBlt(dst.dc(), r.x, r.y, r.w, r.h, src.dc(), 0, 0, 2, 2, SRCCOPY))
            << "row at line " << r.line;
        EXPECT_EQ(r.expected, Read(dst.dc(), 4, 2))
            << "row at line " << r.line;
    }
}

TEST(GdiFill, BrushesFillTheirRectangle) {
    Surface s(3, 2);
    OwnedBrush red(CreateSolidBrush(RGB(255, 0, 0)));
    RECT r{1, 0, 9, 1};
    EXPECT_EQ(1, FillRect(s.dc(), &r, red.get()));
    EXPECT_EQ(1, FillRect(s.dc(), &r, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))));
    EXPECT_EQ(0, FillRect(s.dc(), &r, nullptr));
    RECT corner{0, 1, 1, 2};
    EXPECT_EQ(1, FillRect(s.dc(), &corner, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)));
    std::vector<COLORREF> actual;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) actual.push_back(GetPixel(s.dc(), x, y));
    }
    EXPECT_EQ((std::vector<COLORREF>{0, RGB(255, 0, 0), RGB(255, 0, 0), GetSysColor(COLOR_BTNFACE), 0, 0}),
              actual);
    LOGBRUSH lb{};
    EXPECT_EQ(static_cast<int>(sizeof lb), GetObject(red.get(), sizeof lb, &lb));
    EXPECT_EQ(RGB(255, 0, 0), lb.lbColor);
}

TEST(GdiScreenDC, HasNoPixels) {
    HDC screen = GetDC(nullptr);
    Surface s(1, 1);
    EXPECT_EQ(TRUE, BitBlt(screen, 0, 0, 1, 1, s.dc(), 0, 0, SRCCOPY)) << "drawing does nothing";
    EXPECT_EQ(FALSE, BitBlt(s.dc(), 0, 0, 1, 1, screen, 0, 0, SRCCOPY)) << "nothing to read";
    EXPECT_EQ(CLR_INVALID, GetPixel(screen, 0, 0));
    OwnedBitmap bitmap(CreateCompatibleBitmap(screen, 2, 2));
    EXPECT_EQ(32, InfoOf(bitmap.get()).bmBitsPixel);
    EXPECT_EQ(0, ReleaseDC(reinterpret_cast<HWND>(0x1234), screen)) << "not that window's";
    EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

class TempFile {
public:
    explicit TempFile(const char* suffix)
        : path_(::testing::TempDir() + "gdi_" + std::to_string(getpid()) + suffix) {}
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(Png, SavedPixelsLoadBackExactly) {
    std::vector<uint32_t> pixels;
    for (uint32_t i = 0; i < 7 * 5; ++i) pixels.push_back((i * 0x0903F1u) & 0xFFFFFFu);
    TempFile file(".png");
    ASSERT_TRUE(platform::SavePixelsPng(pixels, 7, 5, file.path()));
    std::vector<uint32_t> loaded;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::LoadPng(file.path(), &loaded, &width, &height));
    EXPECT_EQ(7, width);
    EXPECT_EQ(5, height);
    EXPECT_EQ(pixels, loaded);

    EXPECT_FALSE(platform::SavePixelsPng(pixels, 8, 5, file.path())) << "too few pixels";
    EXPECT_FALSE(platform::SavePixelsPng({}, 0, 0, file.path()));
}

TEST(Png, BadFilesAreRefused) {
    TempFile good(".png");
    ASSERT_TRUE(platform::SavePixelsPng(std::vector<uint32_t>(64 * 64, 0x123456), 64, 64, good.path()));
    std::ifstream in(good.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TempFile bad(".bin");
    struct Row {
        int line;
        std::string content;
    } rows[] = {
        {__LINE__, ""},
        {__LINE__, "GIF89a not a png"},
        {__LINE__, bytes.substr(0, 8)},                // signature only
        {__LINE__, bytes.substr(0, bytes.size() / 2)}, // truncated data
    };
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    for (const Row& r : rows) {
        std::ofstream(bad.path(), std::ios::binary) << r.content;
        EXPECT_FALSE(platform::LoadPng(bad.path(), &pixels, &width, &height))
            << "row at line " << r.line;
    }
    EXPECT_FALSE(platform::LoadPng(bad.path() + ".missing", &pixels, &width, &height));
}

// ---- Window DCs over the top-level framebuffer -------------------------------------------------

struct WindowDeleter {
    void operator()(HWND hwnd) const { DestroyWindow(hwnd); }
};
using OwnedWindow = std::unique_ptr<HWND__, WindowDeleter>;

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

uint32_t PixelOf(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// The rectangle of the top-level window that shows ink, "none" when none does, "torn" when
// the ink does not fill its bounding rectangle or other colours than ink and marker show.
std::string InkedArea(HWND top) {
    Captured c = Capture(top);
    int left = INT_MAX, top_ = INT_MAX, right = -1, bottom = -1, inked = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            if (c.At(x, y) == PixelOf(kMarker)) continue;
            if (c.At(x, y) != PixelOf(kInk)) return "torn";
            ++inked;
            left = std::min(left, x), top_ = std::min(top_, y);
            right = std::max(right, x + 1), bottom = std::max(bottom, y + 1);
        }
    }
    if (!inked) return "none";
    if (inked != (right - left) * (bottom - top_)) return "torn";
    return std::to_string(left) + "," + std::to_string(top_) + "," + std::to_string(right) + "," +
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
        {__LINE__, 10, 5, 8, 6, 0, {0, 0, 8, 6}, "none"},  // hidden
        {__LINE__, 50, 50, 5, 5, WS_VISIBLE, {0, 0, 5, 5}, "none"},  // outside the parent
    };
    for (const Row& r : rows) {
        OwnedWindow child = MakeChild(top.get(), r.x, r.y, r.cx, r.cy, r.visible);
        ASSERT_NE(nullptr, child.get()) << "row at line " << r.line;
        Clear(top.get());
        HDC dc = GetDC(child.get());
        ASSERT_NE(nullptr, dc) << "row at line " << r.line;
        Fill(dc, r.fill, kInk);
        EXPECT_EQ(1, ReleaseDC(child.get(), dc)) << "row at line " << r.line;
        EXPECT_EQ(r.expected, InkedArea(top.get())) << "row at line " << r.line;
    }
}

TEST(GdiWindowDC, FollowsItsWindowAndItsVisibility) {
    OwnedWindow top = MakeTop();
    OwnedWindow child = MakeChild(top.get(), 10, 5, 8, 6);
    HDC dc = GetDC(child.get());
    EXPECT_EQ(0, ReleaseDC(top.get(), dc)) << "another window's DC is not released";

    Clear(top.get());
    SetWindowPos(child.get(), nullptr, 20, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(kInk, SetPixel(dc, 0, 0, kInk));
    EXPECT_EQ("20,10,21,11", InkedArea(top.get())) << "drawn where the window is now";
    EXPECT_EQ(kInk, GetPixel(dc, 0, 0));

    Clear(top.get());
    ShowWindow(top.get(), SW_HIDE);
    EXPECT_EQ(CLR_INVALID, SetPixel(dc, 1, 1, kInk));
    Fill(dc, RECT{0, 0, 8, 6}, kInk);
    EXPECT_EQ("none", InkedArea(top.get())) << "a hidden window's DC draws nothing";
    ShowWindow(top.get(), SW_SHOW);

    HWND gone = child.get();
    child.reset();
    RECT one{0, 0, 1, 1};
    EXPECT_EQ(CLR_INVALID, SetPixel(dc, 1, 1, kInk)) << "its window is gone";
    EXPECT_EQ(0, FillRect(dc, &one, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
    EXPECT_EQ(1, ReleaseDC(gone, dc)) << "still taken back";
}

TEST(GdiWindowDC, PaintDCIsClippedToTheUpdateRectangle) {
    OwnedWindow top = MakeTop();
    ValidateRect(top.get(), nullptr);
    Clear(top.get());
    RECT update{5, 4, 12, 9};
    InvalidateRect(top.get(), &update, FALSE);
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(top.get(), &ps);
    ASSERT_NE(nullptr, dc);
    Fill(dc, RECT{0, 0, kTopWidth, kTopHeight}, kInk);
    EndPaint(top.get(), &ps);
    EXPECT_EQ("5,4,12,9", InkedArea(top.get()));
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
        {__LINE__, 60, 50, {2, 1}, kMarker},
        {__LINE__, 60, 50, {50, 40}, RGB(0, 0, 0)},  // new area starts black
        {__LINE__, 2, 2, {1, 1}, kInk},
        {__LINE__, 40, 30, {1, 1}, kInk},
        {__LINE__, 40, 30, {20, 20}, RGB(0, 0, 0)},  // cut off by the shrink
    };
    for (const Row& r : rows) {
        SetWindowPos(top.get(), nullptr, 0, 0, r.cx, r.cy, SWP_NOMOVE | SWP_NOZORDER);
        Captured c = Capture(top.get());
        ASSERT_EQ(r.cx, c.width) << "row at line " << r.line;
        ASSERT_EQ(r.cy, c.height) << "row at line " << r.line;
        EXPECT_EQ(PixelOf(r.expected), c.At(r.probe.x, r.probe.y)) << "row at line " << r.line;
        EXPECT_EQ(r.expected, GetPixel(dc, r.probe.x, r.probe.y)) << "row at line " << r.line;
    }
    ReleaseDC(top.get(), dc);
}

TEST(GdiCapture, AChildIsItsAreaOfTheTopLevelWindow) {
    OwnedWindow top = MakeTop();
    OwnedWindow inside = MakeChild(top.get(), 3, 2, 4, 3);
    OwnedWindow overhanging = MakeChild(top.get(), 36, 28, 10, 10);
    Clear(top.get());
    HDC dc = GetDC(inside.get());
    Paint(dc, {"abcd", "efgh", "ijkl"});
    ReleaseDC(inside.get(), dc);

    Captured c = Capture(inside.get());
    ASSERT_EQ(4, c.width);
    ASSERT_EQ(3, c.height);
    EXPECT_EQ(PixelOf(ColorOf('a')), c.At(0, 0));
    EXPECT_EQ(PixelOf(ColorOf('l')), c.At(3, 2));
    Captured whole = Capture(top.get());
    EXPECT_EQ(PixelOf(ColorOf('g')), whole.At(3 + 2, 2 + 1));

    Captured clipped = Capture(overhanging.get());
    EXPECT_EQ(4, clipped.width);
    EXPECT_EQ(2, clipped.height);

    HWND gone = inside.get();
    inside.reset();
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    EXPECT_FALSE(platform::CaptureWindow(gone, &pixels, &width, &height));
    EXPECT_FALSE(platform::SaveWindowPng(gone, ::testing::TempDir() + "gone.png"));
}

// A host's dialog with a static control: the dialog paints itself, a picture is copied through
// a memory DC into the static control, and a PNG of the dialog shows exactly that.
TEST(GdiEndToEnd, DialogWithAStaticShowsTheBlittedPicture) {
    OwnedWindow dialog = MakeTop();
    OwnedWindow picture = MakeChild(dialog.get(), 12, 7, 10, 8);
    ASSERT_TRUE(dialog && picture);
    UpdateWindow(dialog.get());
    platform::PumpPendingMessages();

    Surface memory(4, 3);
    Paint(memory.dc(), {"abcd", "efgh", "ijkl"});
    HDC dc = GetDC(picture.get());
    ASSERT_EQ(TRUE, BitBlt(dc, 1, 2, 4, 3, memory.dc(), 0, 0, SRCCOPY));
    ReleaseDC(picture.get(), dc);

    TempFile file(".png");
    ASSERT_TRUE(platform::SaveWindowPng(dialog.get(), file.path()));
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::LoadPng(file.path(), &pixels, &width, &height));
    ASSERT_EQ(kTopWidth, width);
    ASSERT_EQ(kTopHeight, height);

    std::vector<uint32_t> expected(kTopWidth * kTopHeight, PixelOf(GetSysColor(COLOR_BTNFACE)));
    const char* rows[] = {"abcd", "efgh", "ijkl"};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            expected[(7 + 2 + y) * kTopWidth + 12 + 1 + x] = PixelOf(ColorOf(rows[y][x]));
        }
    }
    int wrong = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (pixels[i] != expected[i] && wrong++ < 5) {
            ADD_FAILURE() << "pixel (" << i % kTopWidth << ", " << i / kTopWidth << "): expected "
                          << std::hex << expected[i] << ", actual " << pixels[i];
        }
    }
    EXPECT_EQ(0, wrong);
}

}  // namespace
