// The layer's own GDI helpers: PNG files of pixels, and the capture of a window from the
// top-level framebuffer, shown end to end with a dialog that a picture is copied into.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gdi_helpers.h"
#include "platform/capture.h"
#include "platform/pump.h"
#include "temp_dir.h"
#include "windows.h"

namespace {

using namespace portrix_test;

Captured Capture(HWND hwnd) {
    Captured c;
    EXPECT_TRUE(platform::CaptureWindow(hwnd, &c.pixels, &c.width, &c.height));
    return c;
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
    for (const std::string& bad :
         {std::string(), std::string("GIF89a"), png.substr(0, 8), png.substr(0, png.size() - 20)}) {
        EXPECT_FALSE(platform::LoadPng(dir.Write("bad.png", bad), &loaded, &width, &height))
            << bad.size() << " bytes";
    }
    EXPECT_FALSE(platform::LoadPng(dir / "missing.png", &loaded, &width, &height));
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
        ASSERT_EQ(expected[i], pixels[i])
            << "pixel (" << i % kTopWidth << ", " << i / kTopWidth << ")";
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
