// Loading pictures into a control attached to a static child of a dialog: the GIF and non-GIF
// paths, frames that fail, memory bounds, the window's size, files, and the host's background.
#include <gtest/gtest.h>

#include <platform/capture.h>
#include <platform/picture_cache.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "LoadBudget.h"
#include "Surface.h"
#include "picture_harness.h"
#include "sides.h"
#include "temp_dir.h"

using gif_test::GifBuilder;
using gif_test::PaletteRgb;
using Bytes = std::vector<uint8_t>;

namespace {

// A 24-bit bottom-up BMP of one colour, 96 pixels per inch.
Bytes SolidBmp(int w, int h, uint32_t rgb) {
    const int row = (w * 3 + 3) & ~3;
    const int pixels = row * h;
    Bytes b;
    auto u16 = [&](int v) {
        b.push_back(v & 0xFF);
        b.push_back((v >> 8) & 0xFF);
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    b.push_back('B');
    b.push_back('M');
    u32(14 + 40 + pixels);  // file size
    u32(0);                 // reserved
    u32(14 + 40);           // offset of the pixels
    u32(40);                // BITMAPINFOHEADER size
    u32(w);
    u32(h);
    u16(1);   // planes
    u16(24);  // bits per pixel
    u32(0);   // BI_RGB
    u32(pixels);
    u32(3780);  // 96 dpi in pixels per metre
    u32(3780);
    u32(0);
    u32(0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            b.push_back(rgb & 0xFF);
            b.push_back((rgb >> 8) & 0xFF);
            b.push_back((rgb >> 16) & 0xFF);
        }
        for (int pad = w * 3; pad < row; ++pad) b.push_back(0);
    }
    return b;
}

// An image whose data no decoder accepts: an LZW stream that starts with a code out of range.
void BrokenImage(GifBuilder& b, int w, int h) {
    auto lo = [](int v) { return static_cast<uint8_t>(v & 0xFF); };
    auto hi = [](int v) { return static_cast<uint8_t>(v >> 8); };
    b.Raw({0x2C, 0, 0, 0, 0, lo(w), hi(w), lo(h), hi(h), 0x00});
    b.Raw({0x02, 0x03, 0xFF, 0xFF, 0xFF, 0x00});
}

Bytes ThreeFrames() {
    GifBuilder b;
    b.Header().Screen(12, 10, 1).Loop();
    b.GraphicControl(10).SolidImage(0, 0, 12, 10, 0);
    b.GraphicControl(20, 2).SolidImage(2, 3, 4, 5, 1);
    b.SolidImage(6, 1, 3, 3, 2);
    b.Trailer();
    return b.Bytes();
}

RECT ChildInParent(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    POINT a = {r.left, r.top}, z = {r.right, r.bottom};
    ScreenToClient(GetParent(child), &a);
    ScreenToClient(GetParent(child), &z);
    return RECT{a.x, a.y, z.x, z.y};
}

class Loading : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(control.SubclassWindow(host.child())); }
    BOOL Load(const Bytes& bytes) {
        GlobalBlock block(bytes);
        const BOOL result = control.LoadMemory(block.get(), block.size());
        EXPECT_EQ(block.LockCount(), 0) << "the caller's block is left unlocked";
        EXPECT_NE(GlobalFlags(block.get()) & GMEM_INVALID_HANDLE, GMEM_INVALID_HANDLE)
            << "and still allocated";
        return result;
    }

    HostWindows host;
    PictureProbe control;
};

}  // namespace

TEST_F(Loading, NonGifTakesItsSizeFromHimetric) {
    ASSERT_TRUE(Load(SolidBmp(96, 48, 0x336699)));
    EXPECT_FALSE(control.isGif);
    EXPECT_NE(control.picture, nullptr);
    EXPECT_EQ(control.frames.GetSize(), 0);
    OLE_XSIZE_HIMETRIC hmw = 0;
    OLE_YSIZE_HIMETRIC hmh = 0;
    control.picture->get_Width(&hmw);
    control.picture->get_Height(&hmh);
    EXPECT_EQ(hmw, 2540);
    EXPECT_EQ(hmh, 1270);
    EXPECT_EQ(control.width, 96);
    EXPECT_EQ(control.height, 48);
    RECT r = ChildInParent(host.child());
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, 96) << "the control is resized to the picture";
    EXPECT_EQ(r.bottom - r.top, 48);
    EXPECT_TRUE(control.surfacesReady);
    EXPECT_FALSE(control.IsAnimated());
    EXPECT_TRUE(control.StartDisplay());
    EXPECT_EQ(control.MemoryPixel(95, 47), 0x336699u) << "rendered once, upright, whole";
}

TEST_F(Loading, GifWithOneImageKeepsTheLogicalScreen) {
    for (const char* version : {"87a", "89a"}) {
        GifBuilder b;
        b.Header(version).Screen(30, 20, 1).GraphicControl(5).SolidImage(2, 2, 4, 4, 1).Trailer();
        ASSERT_TRUE(Load(b.Bytes())) << version;
        EXPECT_TRUE(control.isGif);
        EXPECT_NE(control.picture, nullptr);
        EXPECT_EQ(control.frames.GetSize(), 0);
        EXPECT_EQ(control.width, 30);
        EXPECT_EQ(control.height, 20);
        RECT r = ChildInParent(host.child());
        EXPECT_EQ(r.right - r.left, 30);
        EXPECT_EQ(r.bottom - r.top, 20);
        EXPECT_TRUE(control.StartDisplay());
        EXPECT_EQ(control.MemoryPixel(3, 3), PaletteRgb(1, 1)) << version;
    }
}

TEST_F(Loading, MultiImageGifIsSplitIntoFramesInOrder) {
    ASSERT_TRUE(Load(ThreeFrames()));
    EXPECT_EQ(control.picture, nullptr);
    ASSERT_EQ(control.frames.GetSize(), 3);
    EXPECT_TRUE(control.IsAnimated());
    const int xs[] = {0, 2, 6}, delays[] = {10, 20, -1}, disposals[] = {0, 2, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(control.frames[i].picture, nullptr) << "frame " << i;
        EXPECT_EQ(control.frames[i].x, xs[i]) << "frame " << i;
        EXPECT_EQ(control.frames[i].delay, delays[i]) << "frame " << i;
        EXPECT_EQ(control.frames[i].disposal, disposals[i]) << "frame " << i;
    }
    EXPECT_EQ(control.width, 12);
    EXPECT_EQ(control.height, 10);
    EXPECT_EQ(control.bgDC, nullptr) << "no background copy until one is applied";
}

// The colour a picture draws at (x, y) over black, 0x00RRGGBB.
uint32_t RenderedPixel(IPicture* picture, int x, int y) {
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    picture->get_Width(&hmWidth);
    picture->get_Height(&hmHeight);
    BackgroundDC target(32, 32, 0x000000);
    picture->Render(target.get(), 0, 0, 32, 32, 0, hmHeight, hmWidth, -hmHeight, nullptr);
    return RgbOf(GetPixel(target.get(), x, y));
}

// Draws every frame once, as playback does.
void DrawFrames(PictureProbe& probe) {
    for (int i = 0; i < probe.frames.GetSize(); ++i) RenderedPixel(probe.frames[i].picture, 0, 0);
}

TEST_F(Loading, ControlsShowingOnePictureHoldItsPixelsOnce) {
    const bool counted =
        portrix_test::LayerOnly("decoded bytes counted",
                                "the layer keeps one copy of the pixels of equal pictures; the "
                                "system's picture objects each keep their own, uncounted");
    const size_t before = platform::DecodedPictureBytes();
    ASSERT_TRUE(Load(ThreeFrames()));
    if (counted) {
        EXPECT_EQ(platform::DecodedPictureBytes(), before) << "frames are decoded when first drawn";
    }
    DrawFrames(control);
    const size_t one = platform::DecodedPictureBytes() - before;
    if (counted) {
        EXPECT_GT(one, 0u);
    }

    HostWindows otherHost(60, 20);
    PictureProbe other;
    ASSERT_TRUE(other.SubclassWindow(otherHost.child()));
    GlobalBlock block(ThreeFrames());
    ASSERT_TRUE(other.LoadMemory(block.get(), block.size()));
    DrawFrames(other);
    if (counted) {
        EXPECT_EQ(platform::DecodedPictureBytes() - before, one) << "the pixels are held once";
    }
    ASSERT_EQ(other.frames.GetSize(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(other.frames[i].picture, control.frames[i].picture) << "own picture objects";
    }

    // Bytes that differ, even only in a delay, are never shared.
    GifBuilder delayed;
    delayed.Header().Screen(12, 10, 1).Loop();
    delayed.GraphicControl(11).SolidImage(0, 0, 12, 10, 0);
    HostWindows thirdHost(100, 20);
    PictureProbe third;
    ASSERT_TRUE(third.SubclassWindow(thirdHost.child()));
    GlobalBlock delayedBlock(
        delayed.GraphicControl(20, 2).SolidImage(2, 3, 4, 5, 1).Trailer().Bytes());
    ASSERT_TRUE(third.LoadMemory(delayedBlock.get(), delayedBlock.size()));
    DrawFrames(third);
    if (counted) {
        EXPECT_GT(platform::DecodedPictureBytes() - before, one) << "the first frame is held twice";
    }
    third.UnloadPicture();

    // Drawing into one control's bitmap of a frame reaches neither control's frame.
    IPicture* first = control.frames[0].picture;
    OLE_HANDLE handle = 0;
    ASSERT_EQ(first->get_Handle(&handle), S_OK);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ displaced = SelectObject(dc, reinterpret_cast<HBITMAP>(static_cast<uintptr_t>(handle)));
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    RECT all = {0, 0, 12, 10};
    FillRect(dc, &all, white);
    DeleteObject(white);
    SelectObject(dc, displaced);
    DeleteDC(dc);
    EXPECT_EQ(RenderedPixel(other.frames[0].picture, 5, 5), PaletteRgb(1, 0));

    // One control letting its frames go leaves the other's intact.
    control.UnloadPicture();
    if (counted) {
        EXPECT_EQ(platform::DecodedPictureBytes() - before, one);
    }
    EXPECT_EQ(RenderedPixel(other.frames[0].picture, 5, 5), PaletteRgb(1, 0));
    other.UnloadPicture();
    if (counted) {
        EXPECT_EQ(platform::DecodedPictureBytes(), before) << "freed with the last one";
    }
}

TEST_F(Loading, ExtensionsOfUnknownLabelAreSkipped) {
    const Bytes unknown = {0x21, 0x99, 0x02, 'h', 'i', 0x00};
    GifBuilder still;
    still.Header().Screen(8, 8, 1).Raw(unknown).SolidImage(0, 0, 8, 8, 2).Trailer();
    ASSERT_TRUE(Load(still.Bytes()));
    EXPECT_NE(control.picture, nullptr);

    GifBuilder animation;
    animation.Header().Screen(8, 8, 1).GraphicControl(10).SolidImage(0, 0, 8, 8, 0);
    animation.Raw(unknown).GraphicControl(20).Raw(unknown).SolidImage(0, 0, 8, 8, 1);
    animation.Raw({0x21, 0xF9, 0x05, 0x00, 30, 0x00, 0x00, 0x00, 0x00});  // a 5-byte control
    animation.SolidImage(0, 0, 8, 8, 2).Trailer();
    ASSERT_TRUE(Load(animation.Bytes()));
    ASSERT_EQ(control.frames.GetSize(), 3);
    EXPECT_EQ(control.frames[2].delay, 30);
}

TEST_F(Loading, FramesThatFailToDecodeAreDropped) {
    GifBuilder b;
    b.Header().Screen(8, 8, 1);
    b.GraphicControl(10).SolidImage(1, 0, 8, 8, 0);
    b.GraphicControl(20);
    BrokenImage(b, 8, 8);
    b.GraphicControl(30).SolidImage(3, 0, 8, 8, 1);
    b.Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    ASSERT_EQ(control.frames.GetSize(), 2);
    EXPECT_EQ(control.frames[0].delay, 10);
    EXPECT_EQ(control.frames[1].delay, 30) << "later frames keep their order";
}

TEST_F(Loading, OneDecodableFrameIsShownStill) {
    GifBuilder b;
    b.Header().Screen(8, 8, 1);
    BrokenImage(b, 8, 8);
    b.SolidImage(2, 2, 4, 4, 3);
    b.Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    EXPECT_EQ(control.frames.GetSize(), 1);
    EXPECT_EQ(control.picture, nullptr);
    EXPECT_FALSE(control.IsAnimated());
    EXPECT_TRUE(control.StartDisplay());
    EXPECT_EQ(control.playbackThread, nullptr);
    EXPECT_EQ(control.MemoryPixel(3, 3), PaletteRgb(1, 3));
}

TEST_F(Loading, FailuresReleaseThePreviousPictureAndKeepTheWindowSize) {
    GifBuilder none;
    none.Header().Screen(8, 8, 1);
    BrokenImage(none, 8, 8);
    BrokenImage(none, 8, 8);
    none.Trailer();
    GifBuilder empty;
    empty.Header().Screen(8, 8, 1).Comment("no image").Trailer();
    // A logical screen so large that no frame fits the load budget.
    GifBuilder huge;
    huge.Header().Screen(65535, 65535, 1).SolidImage(0, 0, 2, 2, 0).SolidImage(0, 0, 2, 2, 1);
    huge.Trailer();
    struct Row {
        int n;
        const char* what;
        Bytes bytes;
    } rows[] = {
        {1, "no frame decodes", none.Bytes()},
        {2, "no image at all", empty.Bytes()},
        {3, "not a picture", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}},
        {4, "frames past the load budget", huge.Bytes()},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(Load(ThreeFrames())) << "row " << row.n;
        RECT before = ChildInParent(host.child());
        EXPECT_FALSE(Load(row.bytes)) << "row " << row.n << ": " << row.what;
        EXPECT_FALSE(control.surfacesReady) << "row " << row.n;
        EXPECT_EQ(control.frames.GetSize(), 0) << "row " << row.n;
        EXPECT_EQ(control.picture, nullptr) << "row " << row.n;
        EXPECT_FALSE(control.StartDisplay()) << "row " << row.n;
        RECT after = ChildInParent(host.child());
        EXPECT_EQ(after.right - after.left, before.right - before.left) << "row " << row.n;
    }
}

TEST_F(Loading, FramesAreChargedForTheirOwnPixelsNotTheScreens) {
    // Charged for the 1024 x 1024 screen each, at most 64 frames would fit the budget.
    GifBuilder b;
    b.Header().Screen(1024, 1024, 1);
    for (int i = 0; i < 100; ++i) b.SolidImage(i, i, 1, 1, i % 4);
    b.Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    EXPECT_EQ(control.frames.GetSize(), 100);
}

TEST_F(Loading, FramesPastTheLoadBudgetAreDroppedWhetherTheyDecodeOrNot) {
    // Broken frames of the largest size the loader takes fail at once here; they stand for
    // frames that fail late, after all the work.
    using load_budget::FrameCharge;
    GifBuilder failing;
    failing.Header().Screen(8, 8, 1).SolidImage(0, 0, 2, 2, 1);
    BrokenImage(failing, 8192, 4096);
    BrokenImage(failing, 8192, 4096);
    failing.SolidImage(0, 0, 2, 2, 2).Trailer();
    ASSERT_TRUE(Load(failing.Bytes()));
    EXPECT_EQ(control.frames.GetSize(), 1) << "the second broken frame passes the budget";

    // Two broken frames leave room for some one-pixel frames, each charged on top of its pixel.
    GifBuilder tiny;
    tiny.Header().Screen(8, 8, 1);
    BrokenImage(tiny, 8192, 4096);
    BrokenImage(tiny, 8192, 4095);
    for (int i = 0; i < 40; ++i) tiny.SolidImage(i % 8, 0, 1, 1, i % 4);
    tiny.Trailer();
    const ULONGLONG left = load_budget::kPixels - load_budget::ScreenCharge(8, 8) -
                           FrameCharge(8192, 4096) - FrameCharge(8192, 4095);
    ASSERT_LT(left / FrameCharge(1, 1), 40u);
    ASSERT_TRUE(Load(tiny.Bytes()));
    EXPECT_EQ(static_cast<ULONGLONG>(control.frames.GetSize()), left / FrameCharge(1, 1));

    // The logical screen is charged too, for the drawing surfaces: on the largest screen that
    // they can have, a frame of the same size does not fit.
    GifBuilder wide;
    wide.Header().Screen(8192, 4096, 1);
    BrokenImage(wide, 8192, 4096);
    wide.SolidImage(0, 0, 2, 2, 1).Trailer();
    EXPECT_FALSE(Load(wide.Bytes()));
    EXPECT_EQ(control.frames.GetSize(), 0);
}

TEST_F(Loading, OnlyTheGivenBytesAreParsed) {
    // LoadFile hands on the bytes it actually read; a block longer than that (a file that
    // shrank since it was measured) must not be read past them, not even when none were read.
    const Bytes bmp = SolidBmp(4, 4, 0x336699);
    GlobalBlock block(bmp);
    EXPECT_FALSE(control.LoadMemory(block.get(), 0));
    EXPECT_EQ(control.picture, nullptr);
    const bool cut = control.LoadMemory(block.get(), block.size() / 2);
    if (portrix_test::NotUnderWine("half of a BMP", "Wine's OleLoadPicture reads on past lSize")) {
        EXPECT_FALSE(cut);
        EXPECT_EQ(control.picture, nullptr);
    }
    EXPECT_EQ(block.LockCount(), 0);
}

TEST_F(Loading, FilesThatCannotBeReadLeaveThePictureShown) {
    const portrix_test::TempDir dir;
    const std::string gifPath = dir / "frames.gif";
    const std::string emptyPath = dir / "empty.gif";
    {
        const Bytes bytes = ThreeFrames();
        std::ofstream(gifPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        std::ofstream(emptyPath, std::ios::binary);
    }
    // A picture followed by zeros (a sparse file) up to one byte more than is ever read.
    const std::string tooLargePath = dir / "too-large.gif";
    std::filesystem::copy_file(gifPath, tooLargePath);
    std::filesystem::resize_file(tooLargePath, load_budget::kMaxFileBytes + 1);
    ASSERT_TRUE(control.LoadFile(gifPath.c_str()));
    EXPECT_EQ(control.frames.GetSize(), 3);
    EXPECT_FALSE(control.LoadFile((dir / "missing.gif").c_str()));
    EXPECT_FALSE(control.LoadFile(emptyPath.c_str()));
    EXPECT_FALSE(control.LoadFile(tooLargePath.c_str()));
    EXPECT_EQ(control.frames.GetSize(), 3) << "a file that cannot be read changes nothing";
    EXPECT_TRUE(control.surfacesReady);
}

// ---- The host's background -----------------------------------------------------------------

namespace {

constexpr uint32_t kGrey = 0x808080;
constexpr uint32_t kUnderControl = 0x0000C0;

// The parent's client area: grey, with the area under the control (10, 20) in its own colour.
std::unique_ptr<BackgroundDC> HostBackground() {
    auto bg = std::make_unique<BackgroundDC>(200, 150, kGrey);
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 0xC0));
    RECT under = {10, 20, 10 + 30, 20 + 20};
    FillRect(bg->get(), &under, brush);
    DeleteObject(brush);
    return bg;
}

}  // namespace

TEST_F(Loading, BackgroundUnderAStillPictureIsTakenOnce) {
    GifBuilder b;
    b.Header().Screen(30, 20, 1).SolidImage(20, 10, 10, 10, 1).Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    auto bg = HostBackground();
    int pending = 1;
    control.ApplyBackground(bg->get(), &pending, FALSE);
    EXPECT_EQ(pending, 0);
    ASSERT_NE(control.bgDC, nullptr);
    EXPECT_EQ(RgbOf(GetPixel(control.bgDC, 0, 0)), kUnderControl) << "read at the control's place";
    EXPECT_EQ(RgbOf(GetPixel(control.bgDC, 29, 19)), kUnderControl);
    EXPECT_EQ(control.MemoryPixel(25, 15), PaletteRgb(1, 1)) << "the picture is drawn again";
    EXPECT_TRUE(bg->Alive()) << "a background taken stays the host's";

    // Already taken: nothing happens, and the DC is deleted only when asked.
    HDC memBefore = control.memDC;
    control.ApplyBackground(bg->get(), &pending, FALSE);
    EXPECT_EQ(control.memDC, memBefore);
    EXPECT_TRUE(bg->Alive());
    control.ApplyBackground(bg->get(), &pending, TRUE);
    EXPECT_EQ(control.memDC, memBefore);
    EXPECT_FALSE(bg->Alive());

    ASSERT_TRUE(Load(b.Bytes()));
    EXPECT_EQ(control.bgDC, nullptr) << "every load drops the background copy";
}

TEST_F(Loading, OneImageIsDrawnAtItsPlaceOnTheScreenOverWhatLiesBeneath) {
    // A 30 x 20 screen. Row 1: a 10 x 6 image at (17, 9); row 2: a pattern over the whole
    // screen, which must come out pixel for pixel.
    constexpr int kW = 30, kH = 20, kExponent = 3;
    struct Row {
        int n;
        RECT image;
    } rows[] = {{1, {17, 9, 27, 15}}, {2, {0, 0, kW, kH}}};
    for (const Row& row : rows) {
        const RECT& r = row.image;
        const int w = r.right - r.left, h = r.bottom - r.top;
        Bytes raster(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < raster.size(); ++i) raster[i] = (i % w + 3 * (i / w)) % 16;
        GifBuilder b;
        b.Header().Screen(kW, kH, kExponent).Image(r.left, r.top, w, h, raster).Trailer();
        ASSERT_TRUE(Load(b.Bytes())) << "row " << row.n;
        auto bg = HostBackground();
        int pending = 1;
        control.ApplyBackground(bg->get(), &pending, FALSE);
        ASSERT_EQ(pending, 0) << "row " << row.n;
        int wrong = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const POINT at = {x, y};
                const size_t i = static_cast<size_t>(y - r.top) * w + (x - r.left);
                const uint32_t expected =
                    PtInRect(&r, at) ? PaletteRgb(kExponent, raster[i]) : kUnderControl;
                const uint32_t actual = control.MemoryPixel(x, y);
                if (actual != expected && ++wrong <= 3) {
                    ADD_FAILURE() << "row " << row.n << " pixel (" << x << ", " << y
                                  << "): expected " << std::hex << expected << ", actual "
                                  << actual;
                }
            }
        }
    }
}

TEST_F(Loading, BackgroundThatCannotBeCopiedIsNotTaken) {
    GifBuilder b;
    b.Header().Screen(30, 20, 1).SolidImage(20, 10, 10, 10, 1).Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    ASSERT_TRUE(control.StartDisplay());
    const HDC memBefore = control.memDC;
    BackgroundDC gone(200, 150, kGrey);
    const HDC stale = gone.get();
    gone.Release();
    int pending = 1;
    control.ApplyBackground(stale, &pending, FALSE);
    EXPECT_EQ(pending, 1) << "the host's next hand-over tries again";
    EXPECT_EQ(control.bgDC, nullptr);
    EXPECT_EQ(control.memDC, memBefore) << "the dead DC is not used to rebuild the surface";
    EXPECT_EQ(control.MemoryPixel(25, 15), PaletteRgb(1, 1)) << "the picture goes on showing";
}

TEST_F(Loading, BackgroundWithNothingLoadedIsNotTaken) {
    auto bg = HostBackground();
    int pending = 1;
    control.ApplyBackground(bg->get(), &pending, FALSE);
    EXPECT_EQ(pending, 1);
    EXPECT_EQ(control.bgDC, nullptr);
    EXPECT_TRUE(bg->Alive());
    control.ApplyBackground(bg->get(), &pending, TRUE);
    EXPECT_EQ(pending, 1);
    EXPECT_FALSE(bg->Alive());
    control.ApplyBackground(nullptr, &pending, TRUE);
    EXPECT_EQ(pending, 1);
}

TEST_F(Loading, PaintBeforeAnyLoadDrawsNothing) {
    std::vector<uint32_t> before, after;
    int w = 0, h = 0;
    PumpUntil([] { return false; }, 50);
    ASSERT_TRUE(platform::CaptureWindow(host.dialog(), &before, &w, &h));
    InvalidateRect(host.child(), nullptr, FALSE);
    UpdateWindow(host.child());
    PumpUntil([] { return false; }, 50);
    ASSERT_TRUE(platform::CaptureWindow(host.dialog(), &after, &w, &h));
    EXPECT_EQ(before, after);
    EXPECT_FALSE(control.StartDisplay()) << "no surfaces yet";
}

TEST(Surface, IsBuiltWholeOrNotAtAll) {
    const HDC screen = GetDC(nullptr);
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ displaced = nullptr;
    ASSERT_TRUE(BuildSurface(screen, 30, 20, dc, bitmap, displaced));
    BITMAP info = {};
    GetObject(bitmap, sizeof info, &info);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), bitmap);
    EXPECT_EQ(std::make_pair(info.bmWidth, info.bmHeight), std::make_pair(LONG{30}, LONG{20}));
    ReleaseSurface(dc, bitmap, displaced);
    EXPECT_EQ(dc, nullptr);
    // No bitmap that wide: the DC made first goes again.
    if (portrix_test::LayerOnly("a surface 20000 pixels wide",
                                "the layer refuses a bitmap that wide; the system makes it")) {
        EXPECT_FALSE(BuildSurface(screen, 20000, 20, dc, bitmap, displaced));
        EXPECT_EQ(dc, nullptr);
        EXPECT_EQ(bitmap, nullptr);
    }
    ReleaseDC(nullptr, screen);
}
