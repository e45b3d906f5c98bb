// ctest-labels: threaded
// GDI from two threads at once: a playback thread drawing into a memory DC while the interface
// thread copies from it, and handles deleted by one thread while another still uses them.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "platform/capture.h"
#include "platform/pump.h"
#include "windows.h"

namespace {

constexpr int kSide = 32;
constexpr int kFrames = 4;
constexpr int kRounds = 1500;

COLORREF FrameColor(int frame) { return RGB(40 * (frame + 1), 255 - frame, 7 * frame); }

// A memory DC with a bitmap of its own, released as the product releases its surfaces.
struct Surface {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, kSide, kSide);
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
            HBITMAP bitmap = CreateCompatibleBitmap(dc, 8, 8);
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
    int failures = 0;
    while (!done) {
        HDC dc = sharedDC;
        HBITMAP bitmap = sharedBitmap;
        if (!dc) continue;
        if (!BitBlt(mine.dc, 0, 0, 8, 8, dc, 0, 0, SRCCOPY)) ++failures;
        if (SetPixel(dc, 1, 1, RGB(1, 2, 3)) == CLR_INVALID) ++failures;
        BITMAP bm{};
        if (GetObject(bitmap, sizeof bm, &bm) == 0) {
            ++failures;
        } else {
            EXPECT_EQ(8, bm.bmWidth);
        }
        // Stealing the bitmap into this thread's DC must fail while the owner holds it, and
        // after its deletion.
        HGDIOBJ stolen = SelectObject(mine.dc, bitmap);
        if (stolen) SelectObject(mine.dc, stolen);
    }
    owner.join();
    std::set<uintptr_t> distinct(created.begin(), created.end());
    EXPECT_EQ(created.size(), distinct.size()) << "a handle value was given out twice";
    RecordProperty("failures", failures);
}

// The picture control's arrangement: a playback thread renders frames into a memory surface and
// invalidates the window; the window's owner thread paints by copying the surface to the screen.
HDC g_paintSource = nullptr;

LRESULT CALLBACK CopyingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return DefWindowProcA(hwnd, message, wParam, lParam);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    BitBlt(dc, 0, 0, kSide, kSide, g_paintSource, 0, 0, SRCCOPY);
    EndPaint(hwnd, &ps);
    return 0;
}

TEST(GdiThreads, PlaybackThreadDrawsWhileTheWindowPaintsFromTheSameSurface) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CopyingProc;
    wc.lpszClassName = "GdiThreadsCopying";
    ASSERT_NE(0, RegisterClassA(&wc));
    HWND top = CreateWindowExA(0, "#32770", "", WS_POPUP | WS_VISIBLE, 0, 0, kSide + 8, kSide + 8,
                               nullptr, nullptr, nullptr, nullptr);
    HWND picture = CreateWindowExA(0, "GdiThreadsCopying", "", WS_CHILD | WS_VISIBLE, 4, 4, kSide,
                                   kSide, top, nullptr, nullptr, nullptr);
    ASSERT_TRUE(top && picture);

    Surface frames[kFrames];
    for (int f = 0; f < kFrames; ++f) {
        RECT all{0, 0, kSide, kSide};
        FillRect(frames[f].dc, &all, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetPixel(frames[f].dc, f, f, FrameColor(f));  // each frame marks its own diagonal pixel
        RECT band{0, kSide / 2, kSide, kSide / 2 + 4};
        HBRUSH brush = CreateSolidBrush(FrameColor(f));
        FillRect(frames[f].dc, &band, brush);
        DeleteObject(brush);
    }
    Surface memory;
    g_paintSource = memory.dc;

    std::atomic<int> rendered{0};
    std::thread playback([&] {
        for (int i = 0; i < kRounds; ++i) {
            BitBlt(memory.dc, 0, 0, kSide, kSide, frames[i % kFrames].dc, 0, 0, SRCCOPY);
            InvalidateRect(picture, nullptr, FALSE);
            rendered = i + 1;
        }
    });
    EXPECT_TRUE(platform::PumpMessagesUntil([&] { return rendered == kRounds; },
                                            std::chrono::seconds(60)));
    playback.join();
    UpdateWindow(picture);

    // The last frame reached the screen whole.
    const int last = (kRounds - 1) % kFrames;
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::CaptureWindow(picture, &pixels, &width, &height));
    ASSERT_EQ(kSide, width);
    auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; };
    uint32_t ink = (GetRValue(FrameColor(last)) << 16) | (GetGValue(FrameColor(last)) << 8) |
                   GetBValue(FrameColor(last));
    EXPECT_EQ(ink, at(last, last));
    EXPECT_EQ(ink, at(kSide - 1, kSide / 2 + 3));
    for (int f = 0; f < kFrames; ++f) {
        if (f != last) {
            EXPECT_EQ(0u, at(f, f)) << "frame " << f;
        }
    }
    DestroyWindow(top);
    UnregisterClassA("GdiThreadsCopying", nullptr);
    g_paintSource = nullptr;
}

}  // namespace
