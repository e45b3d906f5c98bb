// The layer's own USER helpers: mouse input injected at a screen point, and the message pump
// that a host uses while it waits.
// ctest-labels: threaded
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/input.h"
#include "platform/pump.h"
#include "recorder_window.h"
#include "windows.h"

namespace {

using namespace std::chrono_literals;
using namespace portrix_test;

// ---- Input --------------------------------------------------------------------------------

TEST(UserInput, MouseGoesToTheDeepestChildWithItsClientPoint) {
    Window dialog(WC_DIALOG, WS_POPUP | WS_VISIBLE, {100, 100, 400, 300});
    Window panel = Recorder({10, 10, 210, 110}, WS_VISIBLE, dialog);
    Window target(RecorderClass(), WS_CHILD | WS_VISIBLE, {20, 30, 120, 90}, panel);
    Window quiet(WC_STATIC, WS_CHILD | WS_VISIBLE, {150, 10, 190, 50}, panel);  // no SS_NOTIFY
    Window hidden(RecorderClass(), WS_CHILD, {0, 0, 200, 100}, panel);
    Settle();

    struct Row {
        int line;
        POINT screen;
        UINT message;
        WPARAM keys;
        HWND expected;
        POINT client;
    } rows[] = {
        {1, {135, 145}, WM_MOUSEMOVE, 0, target, {5, 5}},
        {2, {135, 145}, WM_LBUTTONDOWN, MK_LBUTTON, target, {5, 5}},
        {3, {219, 199}, WM_LBUTTONUP, MK_SHIFT, target, {89, 59}},
        {4, {130, 140}, WM_RBUTTONDOWN, MK_RBUTTON | MK_CONTROL, target, {0, 0}},
        {5, {130, 140}, WM_RBUTTONUP, 0, target, {0, 0}},
        {6, {140, 150}, WM_LBUTTONDBLCLK, MK_LBUTTON, target, {10, 10}},
        {7, {140, 150}, WM_RBUTTONDBLCLK, MK_RBUTTON | MK_MBUTTON, target, {10, 10}},
        {8, {112, 112}, WM_LBUTTONDOWN, MK_LBUTTON, panel, {2, 2}},
        {9, {265, 125}, WM_MOUSEMOVE, 0, panel, {155, 15}},  // the static is looked through
    };
    for (const Row& row : rows) {
        ResetRecords();
        ASSERT_TRUE(platform::InjectMouse(row.screen, row.message, row.keys)) << "row " << row.line;
        platform::PumpPendingMessages();
        bool found = false;
        for (const Event& e : t_events) {
            if (e.message != row.message) continue;
            found = true;
            EXPECT_EQ(e.hwnd, row.expected) << "row " << row.line;
            EXPECT_EQ(e.wParam, row.keys) << "row " << row.line;
            EXPECT_EQ(e.lParam, MAKELPARAM(row.client.x, row.client.y)) << "row " << row.line;
        }
        EXPECT_TRUE(found) << "row " << row.line;
    }
    // A static control with SS_NOTIFY takes the mouse itself.
    SetWindowLongA(quiet, GWL_STYLE, GetWindowLongA(quiet, GWL_STYLE) | SS_NOTIFY);
    EXPECT_EQ(WindowFromPoint(POINT{265, 125}), quiet.get());
    EXPECT_EQ(ChildWindowFromPoint(panel, POINT{5, 5}), hidden.get());  // hidden ones count
    EXPECT_FALSE(platform::InjectMouse(POINT{5, 5}, WM_MOUSEMOVE, 0));  // nothing there
    EXPECT_FALSE(platform::InjectMouse(POINT{135, 145}, WM_KEYDOWN, 0));
}

// A host waiting for work done elsewhere (a file a download writes) sees it without any
// message arriving: the pump looks at the condition while the queue is idle.
TEST(UserPump, ConditionSetByAnotherThreadEndsAnIdlePump) {
    std::atomic<bool> ready{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(50ms);
        ready = true;  // posts nothing
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(platform::PumpMessagesUntil([&] { return ready.load(); }, 60s));
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "the pump slept until its timeout";
}

}  // namespace
