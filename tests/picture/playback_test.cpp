// ctest-labels: threaded
// Playback observed through the memory surface: order, looping, disposal, stopping, and the
// two threads meeting over the surfaces while frames play.
#include <gtest/gtest.h>

#include <PlaybackShared.h>
#include <PlaybackTiming.h>
#include <platform/capture.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "picture_harness.h"

using gif_test::GifBuilder;
using gif_test::PaletteRgb;
using Bytes = std::vector<uint8_t>;

namespace {

const uint32_t kRed = PaletteRgb(1, 0);
const uint32_t kGreen = PaletteRgb(1, 1);
const uint32_t kBlue = PaletteRgb(1, 2);
constexpr uint32_t kHostColour = 0x404040;

class Playback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(control.SubclassWindow(host.child())); }
    void TearDown() override { control.UnloadPicture(); }

    BOOL Load(const Bytes& bytes) {
        GlobalBlock block(bytes);
        return control.LoadMemory(block.get(), block.size());
    }
    // Pixels of the memory surface read between two drawing steps of the thread.
    std::vector<uint32_t> Pixels(std::initializer_list<POINT> points) {
        std::lock_guard<std::mutex> guard(control.playback->lock);
        std::vector<uint32_t> out;
        for (const POINT& p : points) out.push_back(control.MemoryPixel(p.x, p.y));
        return out;
    }
    uint32_t Pixel(int x, int y) { return Pixels({POINT{x, y}})[0]; }
    // Waits (pumping, so paints happen) until the memory surface shows rgb at (x, y).
    bool WaitForPixel(int x, int y, uint32_t rgb, int timeoutMs = 5000) {
        return PumpUntil([&] { return Pixel(x, y) == rgb; }, timeoutMs);
    }

    HostWindows host;
    PictureProbe control;
};

Bytes FullFrames(std::initializer_list<std::pair<int, int>> indexAndDelay) {
    GifBuilder b;
    b.Header().Screen(8, 8, 1);
    for (const auto& [index, delay] : indexAndDelay) {
        if (delay >= 0) b.GraphicControl(delay);
        b.SolidImage(0, 0, 8, 8, static_cast<uint8_t>(index));
    }
    b.Trailer();
    return b.Bytes();
}

}  // namespace

TEST(PlaybackTiming, DelaysMapToDueTimes) {
    struct Row {
        int n;
        int delay;
        LONGLONG due;  // 100 ns units; negative: relative
    } rows[] = {
        {1, -1, 100000},     {2, 0, -1000000},      {3, 4, -1000000},          {4, 5, -500000},
        {5, 100, -10000000}, {6, 1000, -100000000}, {7, 65535, -6553500000LL},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(playback_timing::DueTimeForDelay(row.delay), row.due)
            << "row " << row.n << " delay " << row.delay;
    }
    EXPECT_EQ(playback_timing::kFrameWaitCapMs, 10000u);
    EXPECT_EQ(playback_timing::kStopWaitMs, 600u);
}

TEST_F(Playback, FramesPlayInOrderAndLoop) {
    ASSERT_TRUE(Load(FullFrames({{0, 40}, {1, 40}, {2, 40}})));
    EXPECT_FALSE(control.StartDisplay()) << "an animation starts a thread and reports FALSE";
    EXPECT_NE(control.playbackThread, nullptr);

    std::vector<uint32_t> seen;
    PumpUntil(
        [&] {
            const uint32_t now = Pixel(0, 0);
            if ((now == kRed || now == kGreen || now == kBlue) &&
                (seen.empty() || seen.back() != now)) {
                seen.push_back(now);
            }
            return seen.size() >= 7;
        },
        15000);
    const std::vector<uint32_t> expected = {kRed, kGreen, kBlue, kRed, kGreen, kBlue, kRed};
    EXPECT_EQ(seen, expected);

    // The window shows what the memory surface holds, through invalidation and OnPaint.
    EXPECT_TRUE(PumpUntil([&] {
        std::vector<uint32_t> pixels;
        int w = 0, h = 0;
        if (!platform::CaptureWindow(host.child(), &pixels, &w, &h) || pixels.empty()) return false;
        return pixels[0] == kRed || pixels[0] == kGreen || pixels[0] == kBlue;
    }));
}

TEST_F(Playback, FramesWithoutGraphicControlFollowAtOnce) {
    // Without the immediate due time each frame would stay for the 10 s cap. The first colour
    // seen and two flips after it (the second shows the loop): the frames flip as fast as the
    // worker runs, and more flips would only make the sampling more likely to alias with them.
    ASSERT_TRUE(Load(FullFrames({{0, -1}, {1, -1}})));
    control.StartDisplay();
    int changes = 0;
    uint32_t last = 0;
    EXPECT_TRUE(PumpUntil(
        [&] {
            const uint32_t now = Pixel(0, 0);
            if (now != last && (now == kRed || now == kGreen)) ++changes;
            last = now;
            return changes >= 3;
        },
        5000));
}

TEST_F(Playback, DisposalTwoDrawsOntoTheBackgroundCopy) {
    GifBuilder b;
    b.Header().Screen(8, 8, 1);
    b.GraphicControl(25, 0).SolidImage(0, 0, 8, 8, 0);
    b.GraphicControl(25, 2).SolidImage(0, 0, 2, 2, 1);
    b.Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    BackgroundDC bg(200, 150, kHostColour);
    int pending = 1;
    control.ApplyBackground(bg.get(), &pending, FALSE);
    ASSERT_EQ(pending, 0);
    control.StartDisplay();
    ASSERT_TRUE(PumpUntil([&] {
        return Pixels({{0, 0}, {5, 5}}) == std::vector<uint32_t>{kGreen, kHostColour};
    })) << "the green frame is drawn over the background, not over the red one";
}

TEST_F(Playback, DisposalThreeRestoresTheFrameRectangle) {
    GifBuilder b;
    b.Header().Screen(8, 8, 1);
    b.GraphicControl(25, 0).SolidImage(0, 0, 8, 8, 0);
    b.GraphicControl(25, 3).SolidImage(0, 0, 2, 2, 1);
    b.GraphicControl(25, 0).SolidImage(6, 6, 2, 2, 2);
    b.Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    control.StartDisplay();
    ASSERT_TRUE(WaitForPixel(0, 0, kGreen));
    ASSERT_TRUE(PumpUntil([&] {
        return Pixels({{6, 6}, {0, 0}}) == std::vector<uint32_t>{kBlue, kRed};
    })) << "after its delay the disposal-3 frame's rectangle shows red again";
}

TEST_F(Playback, StopDuringADisposalThreeDelayLeavesTheFrameDrawn) {
    GifBuilder b;
    b.Header().Screen(8, 8, 1);
    b.GraphicControl(5, 0).SolidImage(0, 0, 8, 8, 0);
    b.GraphicControl(1000, 3).SolidImage(0, 0, 2, 2, 1);
    b.Trailer();
    ASSERT_TRUE(Load(b.Bytes()));
    control.StartDisplay();
    ASSERT_TRUE(WaitForPixel(0, 0, kGreen));
    control.StopPlayback();
    EXPECT_EQ(Pixels({{0, 0}, {5, 5}}), (std::vector<uint32_t>{kGreen, kRed}))
        << "the saved rectangle is dropped, not put back";
}

TEST_F(Playback, StopDuringATenSecondDelayEndsTheThreadAtOnce) {
    ASSERT_TRUE(Load(FullFrames({{0, 1000}, {1, 1000}})));
    control.StartDisplay();
    control.StartDisplay();  // a second start while playing must not start a second thread
    ASSERT_TRUE(WaitForPixel(0, 0, kRed));
    control.StopPlayback();
    // Had the thread not ended inside the wait, it would still hold the shared block.
    EXPECT_EQ(control.playback.use_count(), 1);
    EXPECT_EQ(control.playbackThread, nullptr);
    EXPECT_FALSE(control.stopRequested);
    EXPECT_EQ(WaitForSingleObject(control.stopEvent, 0), WAIT_TIMEOUT);
}

TEST_F(Playback, StopWithoutAThreadLeavesTheEventReset) {
    control.StopPlayback();
    EXPECT_FALSE(control.stopRequested);
    EXPECT_EQ(WaitForSingleObject(control.stopEvent, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(Load(FullFrames({{0, 10}, {1, 10}})));
    control.StopPlayback();
    EXPECT_EQ(WaitForSingleObject(control.stopEvent, 0), WAIT_TIMEOUT);
}

TEST_F(Playback, EveryStartBeginsWithTheFirstFrame) {
    ASSERT_TRUE(Load(FullFrames({{0, 10}, {1, 1000}})));
    control.StartDisplay();
    ASSERT_TRUE(WaitForPixel(0, 0, kGreen));
    control.StopPlayback();
    control.StartDisplay();
    EXPECT_TRUE(WaitForPixel(0, 0, kRed, 5000)) << "the second frame would have stayed 10 s";
}

TEST_F(Playback, PlaybackCarriesOnOverANewBackground) {
    ASSERT_TRUE(Load(FullFrames({{0, 5}, {1, 5}})));
    control.StartDisplay();
    ASSERT_TRUE(WaitForPixel(0, 0, kGreen));
    BackgroundDC bg(200, 150, kHostColour);
    int pending = 1;
    control.ApplyBackground(bg.get(), &pending, FALSE);
    EXPECT_EQ(pending, 0);
    // The new memory surface starts as the host's colour; frames keep arriving on it.
    EXPECT_TRUE(WaitForPixel(0, 0, kRed));
    EXPECT_TRUE(WaitForPixel(0, 0, kGreen));
    // Taken already: the DC stays the host's unless it asks for it to be deleted.
    control.ApplyBackground(bg.get(), &pending, FALSE);
    EXPECT_TRUE(bg.Alive());
    control.ApplyBackground(bg.get(), &pending, TRUE);
    EXPECT_FALSE(bg.Alive());
}

// Load, unload, background hand-overs, paints and destruction while frames play as fast as they
// can: ThreadSanitizer and AddressSanitizer watch the two threads meet.
TEST(PlaybackStress, LoadUnloadBackgroundAndDestroyWhilePlaying) {
    const Bytes fast = FullFrames({{0, -1}, {1, -1}, {2, -1}});
    BackgroundDC bg(200, 150, kHostColour);
    for (int round = 0; round < 12; ++round) {
        auto host = std::make_unique<HostWindows>();
        auto control = std::make_unique<PictureProbe>();
        ASSERT_TRUE(control->SubclassWindow(host->child()));
        {
            GlobalBlock block(fast);
            ASSERT_TRUE(control->LoadMemory(block.get(), block.size()));
        }
        control->StartDisplay();
        for (int i = 0; i < 4; ++i) {
            int pending = 1;
            control->ApplyBackground(bg.get(), &pending, FALSE);
            InvalidateRect(host->child(), nullptr, FALSE);
            PumpUntil([] { return false; }, 5);
        }
        switch (round % 4) {
            case 0: {  // a new load stops the old playback first
                GlobalBlock block(fast);
                ASSERT_TRUE(control->LoadMemory(block.get(), block.size()));
                control->StartDisplay();
                PumpUntil([] { return false; }, 5);
                control->UnloadPicture();
                break;
            }
            case 1:  // the window goes first: OnDestroy stops the playback
                host->DestroyChild();
                EXPECT_EQ(control->playbackThread, nullptr) << "round " << round;
                break;
            case 2:  // the control goes while playing
                control.reset();
                break;
            case 3:  // unload, then play again over a fresh background
                control->UnloadPicture();
                break;
        }
        control.reset();
        host.reset();
    }
}
