// ctest-labels: threaded;win32
// GDI from two threads at once: a playback thread drawing into a memory DC while the interface
// thread copies from it, handles deleted by one thread while another still uses them, and a
// window resized while another thread draws into it.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "gdi_helpers.h"
#include "sides.h"
#include "windows.h"

namespace {

constexpr int kSide = 32;
constexpr int kFrames = 4;
constexpr int kRounds = 1500;

COLORREF FrameColor(int frame) {
    return RGB(40 * (frame + 1), 255 - frame, 7 * frame);
}

// A memory DC with a bitmap of its own, released as the product releases its surfaces.
struct Surface {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = portrix_test::ScreenBitmap(kSide, kSide);
    HGDIOBJ old = SelectObject(dc, bitmap);

    Surface() = default;
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    ~Surface() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
};

TEST(GdiThreads, CopiesFromASurfaceBeingDrawnNeverTear) {
    if (!portrix_test::LayerOnly(
            "all",
            "the layer lets two threads use one DC at once; Wine 8.0 fails a call "
            "on a DC that another thread is using"))
        return;
    Surface frames[kFrames];
    for (int f = 0; f < kFrames; ++f) {
        HBRUSH brush = CreateSolidBrush(FrameColor(f));
        RECT all{0, 0, kSide, kSide};
        FillRect(frames[f].dc, &all, brush);
        DeleteObject(brush);
    }
    Surface memory;
    BitBlt(memory.dc, 0, 0, kSide, kSide, frames[0].dc, 0, 0, SRCCOPY);

    std::atomic<bool> done{false};
    std::thread playback([&] {
        for (int i = 0; i < kRounds; ++i) {
            BitBlt(memory.dc, 0, 0, kSide, kSide, frames[i % kFrames].dc, 0, 0, SRCCOPY);
        }
        done = true;
    });

    // The interface thread's paints: every copy shows exactly one whole frame.
    Surface screen;
    int torn = 0, paints = 0;
    while (!done || paints == 0) {
        ASSERT_EQ(TRUE, BitBlt(screen.dc, 0, 0, kSide, kSide, memory.dc, 0, 0, SRCCOPY));
        ++paints;
        COLORREF first = GetPixel(screen.dc, 0, 0);
        for (POINT p : {POINT{kSide - 1, 0}, POINT{kSide / 2, kSide / 2}, POINT{0, kSide - 1},
                        POINT{kSide - 1, kSide - 1}}) {
            if (GetPixel(screen.dc, p.x, p.y) != first) ++torn;
        }
        bool known = false;
        for (int f = 0; f < kFrames; ++f) known |= first == FrameColor(f);
        EXPECT_TRUE(known) << std::hex << first;
    }
    playback.join();
    EXPECT_EQ(0, torn) << "of " << paints << " paints";
    EXPECT_EQ(FrameColor((kRounds - 1) % kFrames), GetPixel(memory.dc, 3, 3));
}

TEST(GdiThreads, HandlesDeletedUnderAnotherThreadFailCleanly) {
    std::atomic<HDC> sharedDC{nullptr};
    std::atomic<HBITMAP> sharedBitmap{nullptr};
    std::atomic<bool> done{false};
    std::vector<uintptr_t> created;

    std::thread owner([&] {
        for (int i = 0; i < kRounds; ++i) {
            HDC dc = CreateCompatibleDC(nullptr);
            HBITMAP bitmap = portrix_test::ScreenBitmap(8, 8);
            created.push_back(reinterpret_cast<uintptr_t>(dc));
            created.push_back(reinterpret_cast<uintptr_t>(bitmap));
            HGDIOBJ old = SelectObject(dc, bitmap);
            sharedDC = dc;
            sharedBitmap = bitmap;
            SelectObject(dc, old);
            DeleteDC(dc);
            DeleteObject(bitmap);
        }
        done = true;
    });

    // Whatever the other thread has just deleted, every call either works or reports failure.
    Surface mine;
    while (!done) {
        HDC dc = sharedDC;
        HBITMAP bitmap = sharedBitmap;
        BitBlt(mine.dc, 0, 0, 8, 8, dc, 0, 0, SRCCOPY);
        SetPixel(dc, 1, 1, RGB(1, 2, 3));
        BITMAP bm{};
        if (GetObject(bitmap, sizeof bm, &bm) != 0) {
            EXPECT_EQ(8, bm.bmWidth);
        }
        if (HGDIOBJ stolen = SelectObject(mine.dc, bitmap)) SelectObject(mine.dc, stolen);
    }
    owner.join();
    if (portrix_test::LayerOnly("handle values",
                                "the layer never reuses a handle value; the original may")) {
        std::set<uintptr_t> distinct(created.begin(), created.end());
        EXPECT_EQ(created.size(), distinct.size()) << "a handle value was given out twice";
    }
}

TEST(GdiThreads, DrawingIntoAWindowWhileItIsResizedIsSafe) {
    HWND window = CreateWindowExA(0, WC_DIALOG, "", WS_POPUP | WS_VISIBLE, 0, 0, kSide, kSide,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    Surface source;
    RECT all{0, 0, kSide, kSide};
    HBRUSH brush = CreateSolidBrush(FrameColor(1));
    FillRect(source.dc, &all, brush);
    DeleteObject(brush);

    // The other thread draws through one DC of the window while this one resizes the window,
    // which gives it a new framebuffer each time.
    HDC windowDC = GetDC(window);
    std::atomic<bool> done{false};
    std::thread drawer([&] {
        while (!done) BitBlt(windowDC, 0, 0, kSide, kSide, source.dc, 0, 0, SRCCOPY);
    });
    for (int i = 0; i < kRounds / 10; ++i) {
        const int side = kSide / 2 + i % kSide;
        SetWindowPos(window, nullptr, 0, 0, side, side, SWP_NOMOVE | SWP_NOZORDER);
    }
    done = true;
    drawer.join();
    EXPECT_TRUE(BitBlt(windowDC, 0, 0, kSide, kSide, source.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(FrameColor(1), GetPixel(windowDC, 1, 1));
    ReleaseDC(window, windowDC);
    DestroyWindow(window);
}

}  // namespace
