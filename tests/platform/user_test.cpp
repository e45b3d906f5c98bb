// Win32 USER: windows, message retrieval, painting, timers.
// ctest-labels: threaded;win32
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "recorder_window.h"
#include "sides.h"
#include "windows.h"

namespace {

using namespace std::chrono_literals;
using namespace portrix_test;

constexpr char kOneUpdateRectangle[] =
    "the layer keeps a window's update region as one rectangle, so a child under it repaints too";

// Waits (outside any pass condition) until a timer of the given period has surely expired.
void WaitPast(std::chrono::milliseconds period) {
    std::this_thread::sleep_for(period * 3);
}

// ---- Windows and geometry -----------------------------------------------------------------

TEST(UserWindows, CoordinatesFollowTheParentChain) {
    Window top = Recorder({100, 50, 400, 350});
    Window child(WC_STATIC, WS_CHILD | WS_VISIBLE, {10, 20, 110, 70}, top);
    Window grandchild(WC_STATIC, WS_CHILD | WS_VISIBLE, {5, 6, 25, 26}, child);
    ASSERT_TRUE(grandchild.get());

    struct Row {
        int line;
        HWND hwnd;
        RECT screen;
    } rows[] = {
        {1, top, {100, 50, 400, 350}},
        {2, child, {110, 70, 210, 120}},
        {3, grandchild, {115, 76, 135, 96}},
    };
    for (const Row& row : rows) {
        RECT window, client;
        ASSERT_TRUE(GetWindowRect(row.hwnd, &window));
        ASSERT_TRUE(GetClientRect(row.hwnd, &client));
        EXPECT_TRUE(EqualRect(&window, &row.screen))
            << "row " << row.line << ": expected " << Describe(row.screen) << ", got "
            << Describe(window);
        RECT expectedClient{0, 0, row.screen.right - row.screen.left,
                            row.screen.bottom - row.screen.top};
        EXPECT_TRUE(EqualRect(&client, &expectedClient)) << "row " << row.line;
        POINT p{0, 0};
        ClientToScreen(row.hwnd, &p);
        EXPECT_EQ(p.x, row.screen.left) << "row " << row.line;
        EXPECT_EQ(p.y, row.screen.top) << "row " << row.line;
        ScreenToClient(row.hwnd, &p);
        EXPECT_EQ(p.x, 0) << "row " << row.line;
        EXPECT_EQ(p.y, 0) << "row " << row.line;
    }
    POINT p{1, 2};
    MapWindowPoints(grandchild, top, &p, 1);
    EXPECT_EQ(p.x, 16);
    EXPECT_EQ(p.y, 28);
    EXPECT_EQ(GetParent(grandchild), child.get());
    EXPECT_EQ(GetParent(top), nullptr);
}

TEST(UserWindows, SetWindowPosResizesAndKeepsCornerAndZOrder) {
    Window top = Recorder({100, 50, 400, 350});
    Window first = Recorder({10, 20, 30, 40}, WS_VISIBLE, top);
    Window second = Recorder({50, 50, 60, 60}, WS_VISIBLE, top);
    Settle();

    ASSERT_TRUE(SetWindowPos(first, nullptr, 0, 0, 96, 48, SWP_NOMOVE | SWP_NOZORDER));
    RECT rect;
    GetWindowRect(first, &rect);
    RECT expected{110, 70, 206, 118};
    EXPECT_TRUE(EqualRect(&rect, &expected)) << Describe(rect);
    EXPECT_EQ(GetWindow(top, GW_CHILD), first.get());  // z-order kept

    bool sized = false;
    for (const Event& e : t_events) {
        if (e.hwnd == first && e.message == WM_SIZE) {
            sized = true;
            EXPECT_EQ(LOWORD(e.lParam), 96);
            EXPECT_EQ(HIWORD(e.lParam), 48);
        }
    }
    EXPECT_TRUE(sized);

    // Growing redraws the new part of the window; shrinking hands the parent what it uncovers.
    RECT update;
    ASSERT_TRUE(GetUpdateRect(first, &update, FALSE));
    RECT grown{0, 0, 96, 48};
    EXPECT_TRUE(EqualRect(&update, &grown)) << Describe(update);
    Settle();
    SetWindowPos(first, nullptr, 0, 0, 40, 48, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(GetUpdateRect(top, &update, FALSE));
    RECT uncovered{50, 20, 106, 68};
    EXPECT_TRUE(EqualRect(&update, &uncovered)) << Describe(update);
    EXPECT_FALSE(GetUpdateRect(first, &update, FALSE));
    // Shrunk both ways, the uncovered area is no rectangle; the layer's one update rectangle of
    // the parent then covers the child, which must paint again after it.
    Settle();
    SetWindowPos(first, nullptr, 0, 0, 20, 20, SWP_NOMOVE | SWP_NOZORDER);
    if (LayerOnly("shrunk both ways", kOneUpdateRectangle)) {
        EXPECT_TRUE(GetUpdateRect(first, &update, FALSE));
    }

    SetWindowPos(first, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(GetWindow(top, GW_CHILD), second.get());
}

TEST(UserWindows, DestroySendsDestroyParentFirstAndNcDestroyLast) {
    HWND parent = CreateWindowExA(0, RecorderClass(), "", WS_POPUP, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND a = CreateWindowExA(0, RecorderClass(), "", WS_CHILD, 0, 0, 10, 10, parent, nullptr,
                             nullptr, nullptr);
    HWND a1 =
        CreateWindowExA(0, RecorderClass(), "", WS_CHILD, 0, 0, 5, 5, a, nullptr, nullptr, nullptr);
    HWND b = CreateWindowExA(0, RecorderClass(), "", WS_CHILD, 20, 0, 10, 10, parent, nullptr,
                             nullptr, nullptr);
    ASSERT_TRUE(parent && a && a1 && b);
    SetTimer(a1, 3, 10, nullptr);
    PostMessageA(b, WM_USER, 0, 0);
    ResetRecords();

    ASSERT_TRUE(DestroyWindow(parent));
    std::vector<std::pair<HWND, UINT>> got;
    for (const Event& e : t_events) {
        if (e.message == WM_DESTROY || e.message == WM_NCDESTROY)
            got.push_back({e.hwnd, e.message});
    }
    std::vector<std::pair<HWND, UINT>> expected = {
        {parent, WM_DESTROY}, {a, WM_DESTROY},   {a1, WM_DESTROY},  {b, WM_DESTROY},
        {a1, WM_NCDESTROY},   {a, WM_NCDESTROY}, {b, WM_NCDESTROY}, {parent, WM_NCDESTROY},
    };
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got[i], expected[i]) << "row " << i + 1;
    }
    for (HWND h : {parent, a, a1, b}) EXPECT_FALSE(IsWindow(h));
    // The timer and the posted message went with their windows.
    EXPECT_FALSE(KillTimer(a1, 3));
    WaitPast(10ms);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(UserWindows, HandlesAreNotReused) {
    HWND first = CreateWindowExA(0, RecorderClass(), "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
    DestroyWindow(first);
    HWND second = CreateWindowExA(0, RecorderClass(), "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
    EXPECT_NE(first, second);
    EXPECT_FALSE(IsWindow(first));
    DestroyWindow(second);
}

TEST(UserWindows, AWindowRefusedByWmCreateNeverGetsWmDestroy) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        t_events.push_back({hwnd, message, wParam, lParam});
        return message == WM_CREATE ? -1 : DefWindowProcA(hwnd, message, wParam, lParam);
    };
    wc.lpszClassName = "UserTestRefuser";
    static const bool registered = RegisterClassA(&wc) != 0;
    ASSERT_TRUE(registered);
    ResetRecords();
    EXPECT_EQ(nullptr, CreateWindowExA(0, "UserTestRefuser", "", WS_POPUP, 0, 0, 5, 5, nullptr,
                                       nullptr, nullptr, nullptr));
    std::vector<UINT> got;
    for (const Event& e : t_events) {
        if (e.message == WM_NCCREATE || e.message == WM_CREATE || e.message == WM_DESTROY ||
            e.message == WM_NCDESTROY)
            got.push_back(e.message);
    }
    EXPECT_EQ(got, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_NCDESTROY}));
}

TEST(UserWindows, CreationFailures) {
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    if (NotUnderWine("unknown class", "Wine 8.0 reports ERROR_CLASS_DOES_NOT_EXIST")) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    }
    EXPECT_EQ(
        CreateWindowExA(0, WC_STATIC, "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(PostMessageA(reinterpret_cast<HWND>(0x12345678), WM_USER, 0, 0), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(UserWindows, WindowLongsAndText) {
    Window top = Recorder({0, 0, 50, 50});
    Window child(WC_STATIC, WS_CHILD, {0, 0, 10, 10}, top, 42);
    EXPECT_EQ(GetDlgItem(top, 42), child.get());
    EXPECT_EQ(GetDlgCtrlID(child), 42);
    EXPECT_EQ(SetWindowLongPtrA(child, GWLP_USERDATA, 99), 0);
    EXPECT_EQ(GetWindowLongPtrA(child, GWLP_USERDATA), 99);
    EXPECT_TRUE(GetWindowLongA(child, GWL_STYLE) & WS_CHILD);
    EXPECT_FALSE(GetWindowLongA(child, GWL_STYLE) & WS_CLIPSIBLINGS);
    EXPECT_TRUE(GetWindowLongA(top, GWL_STYLE) & WS_CLIPSIBLINGS)
        << "always, for a top-level window";
    ASSERT_TRUE(SetDlgItemInt(top, 42, static_cast<UINT>(-15), TRUE));
    char text[16];
    GetWindowTextA(child, text, sizeof text);
    EXPECT_STREQ(text, "-15");
    BOOL ok = FALSE;
    EXPECT_EQ(static_cast<int>(GetDlgItemInt(top, 42, &ok, TRUE)), -15);
    EXPECT_TRUE(ok);
    char name[16];
    GetClassNameA(child, name, sizeof name);
    EXPECT_STREQ(name, "Static");
}

// ---- Message retrieval --------------------------------------------------------------------

TEST(UserMessages, RetrievalOrderPostedThenQuitThenPaintThenTimer) {
    struct Row {
        int line;
        bool post, quit, paint, timer;
        std::vector<UINT> expected;
    } rows[] = {
        {1, true, false, true, true, {WM_USER, WM_PAINT, WM_TIMER}},
        {2, false, false, true, true, {WM_PAINT, WM_TIMER}},
        {3, true, false, false, true, {WM_USER, WM_TIMER}},
        {4, true, true, true, false, {WM_USER, WM_QUIT, WM_PAINT}},
        {5, false, true, false, true, {WM_QUIT, WM_TIMER}},
    };
    for (const Row& row : rows) {
        Window w = Recorder({0, 0, 20, 20});
        Settle();
        // Set up in the reverse order of retrieval, so that order of arrival cannot explain it.
        if (row.timer) SetTimer(w, 1, 10, nullptr);
        if (row.paint) InvalidateRect(w, nullptr, FALSE);
        if (row.quit) PostQuitMessage(3);
        if (row.post) PostMessageA(w, WM_USER, 0, 0);
        if (row.timer) WaitPast(10ms);
        std::vector<UINT> got;
        MSG msg;
        while (got.size() < row.expected.size() && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            got.push_back(msg.message);
            if (msg.message == WM_QUIT) {
                EXPECT_EQ(msg.wParam, 3u) << "row " << row.line;
            }
            DispatchMessageA(&msg);
        }
        EXPECT_EQ(got, row.expected) << "row " << row.line;
        KillTimer(w, 1);
    }
}

TEST(UserMessages, PeekNoRemoveAndFilters) {
    Window a = Recorder({0, 0, 10, 10});
    Window b = Recorder({0, 0, 10, 10});
    Settle();
    PostMessageA(a, WM_USER + 1, 0, 0);
    PostMessageA(b, WM_USER + 2, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 3));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 9, PM_REMOVE));
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    PostQuitMessage(7);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.wParam, 7u);
}

TEST(UserMessages, PostAndSendFromAnotherThread) {
    Window w = Recorder({0, 0, 10, 10});
    Settle();
    std::atomic<LRESULT> sendResult{0};
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        posted = PostMessageA(w, WM_USER + 1, 5, 6) != FALSE;
        sendResult = SendMessageA(w, WM_USER + 7, 40, 2);
    });
    bool gotPost = false, gotSend = false;
    ASSERT_TRUE(DispatchUntil(
        [&] {
            for (const Event& e : t_events) {
                gotPost = gotPost || e.message == WM_USER + 1;
                gotSend = gotSend || e.message == WM_USER + 7;
            }
            return gotPost && gotSend;
        },
        10s));
    worker.join();
    // Calls made by other threads ran on the owner thread, and the sender got the result.
    EXPECT_TRUE(posted);
    EXPECT_EQ(sendResult.load(), 42);
}

TEST(UserMessages, FilteredWaitSkipsTimersWithoutSpinning) {
    Window w = Recorder({0, 0, 10, 10});
    Settle();
    SetTimer(w, 1, 10, nullptr);
    std::thread poster([&] {
        std::this_thread::sleep_for(200ms);
        PostMessageA(w, WM_USER + 5, 0, 0);
    });
    std::clock_t cpuBefore = std::clock();
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, WM_USER + 5, WM_USER + 5), 1);
    std::clock_t cpu = std::clock() - cpuBefore;
    poster.join();
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 5));
    // About twenty timer wake-ups in 200 ms, not a busy loop (which would burn most of them).
    if (LayerOnly("processor time",
                  "the Windows C runtime's clock() counts wall time, not processor time")) {
        EXPECT_LT(static_cast<double>(cpu) / CLOCKS_PER_SEC, 0.05);
    }
    KillTimer(w, 1);
}

TEST(UserMessages, GetMessageWakesForAnotherThreadsPost) {
    Window w = Recorder({0, 0, 10, 10});
    Settle();
    std::thread worker([&] {
        std::this_thread::sleep_for(50ms);
        PostMessageA(w, WM_USER + 4, 0, 0);
    });
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 4));
    worker.join();
}

// ---- Timers -------------------------------------------------------------------------------

// Waits for the next WM_TIMER of hwnd without dispatching anything, and says how long it took.
std::chrono::milliseconds TimeToTick(HWND hwnd, UINT_PTR* id) {
    auto start = std::chrono::steady_clock::now();
    MSG msg;
    while (std::chrono::steady_clock::now() - start < 10s) {
        if (PeekMessageA(&msg, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE)) {
            if (id) *id = msg.wParam;
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
        }
        std::this_thread::sleep_for(1ms);
    }
    return std::chrono::milliseconds::max();
}

TEST(UserTimers, PeriodFloorReplacementAndNoBacklog) {
    Window w = Recorder({0, 0, 10, 10});
    Settle();

    // Periods below 10 ms count as 10 ms: no tick comes sooner (a lower bound, so load cannot
    // make this fail).
    ASSERT_EQ(SetTimer(w, 5, 1, nullptr), 5u);
    UINT_PTR id = 0;
    EXPECT_GE(TimeToTick(w, &id), 9ms);
    EXPECT_EQ(id, 5u);

    // The same id replaces the running timer: after a long new period, nothing comes early.
    SetTimer(w, 5, 20, nullptr);
    SetTimer(w, 5, 60000, nullptr);
    WaitPast(20ms);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, w, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_TRUE(KillTimer(w, 5));
    EXPECT_FALSE(KillTimer(w, 5));  // there was only one

    // A late reader finds one tick, not one per expiry.
    SetTimer(w, 6, 200, nullptr);
    std::this_thread::sleep_for(900ms);
    EXPECT_TRUE(PeekMessageA(&msg, w, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 6u);
    EXPECT_FALSE(PeekMessageA(&msg, w, WM_TIMER, WM_TIMER, PM_REMOVE));
    KillTimer(w, 6);
}

TEST(UserTimers, TimersTickPerIdAndPumpDispatchesThem) {
    Window w = Recorder({0, 0, 10, 10});
    Settle();
    // A queue already waiting on a distant timer still wakes for the nearer ones set later.
    SetTimer(w, 3, 60000, nullptr);
    DispatchUntil([] { return false; }, 20ms);
    SetTimer(w, 1, 10, nullptr);
    SetTimer(w, 2, 10, nullptr);
    int ones = 0, twos = 0;
    ASSERT_TRUE(DispatchUntil(
        [&] {
            ones = twos = 0;
            for (const Event& e : t_events) {
                if (e.message == WM_TIMER) (e.wParam == 1 ? ones : twos)++;
            }
            return ones >= 3 && twos >= 3;
        },
        10s));
    KillTimer(w, 1);
    KillTimer(w, 2);
    KillTimer(w, 3);
}

TEST(UserTimers, PendingTimersComeOldestFirstAndAKilledOneNever) {
    Window w = Recorder({0, 0, 10, 10});
    Settle();
    // Set in the reverse of the order in which they fall due.
    SetTimer(w, 1, 30, nullptr);
    SetTimer(w, 2, 20, nullptr);
    SetTimer(w, 3, 10, nullptr);
    std::this_thread::sleep_for(100ms);  // all three due
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
    KillTimer(w, 2);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u) << "the killed timer's tick went with it";
    for (UINT_PTR id : {1, 3}) KillTimer(w, id);
}

// ---- Painting -----------------------------------------------------------------------------

TEST(UserPainting, UpdateRegionsMergeAndEraseAccumulates) {
    struct Inval {
        RECT rect;
        BOOL erase;
    };
    struct Row {
        int line;
        std::vector<Inval> invalidations;
        RECT validate;  // empty: none
        bool painted;
        RECT expected;
        int erases;
    } rows[] = {
        {1, {{{0, 0, 10, 10}, FALSE}}, {}, true, {0, 0, 10, 10}, 0},
        {2, {{{0, 0, 10, 10}, FALSE}, {{20, 30, 40, 50}, FALSE}}, {}, true, {0, 0, 40, 50}, 0},
        {3, {{{0, 0, 10, 10}, FALSE}, {{5, 5, 8, 8}, TRUE}}, {}, true, {0, 0, 10, 10}, 1},
        {4, {{{0, 0, 10, 10}, TRUE}, {{5, 5, 8, 8}, FALSE}}, {}, true, {0, 0, 10, 10}, 1},
        {5, {{{90, 90, 200, 200}, FALSE}}, {}, true, {90, 90, 100, 100}, 0},  // clipped
        {6, {{{0, 0, 100, 100}, TRUE}}, {0, 0, 100, 100}, false, {}, 0},
        {7, {{{0, 0, 100, 100}, FALSE}}, {0, 0, 100, 40}, true, {0, 40, 100, 100}, 0},
        {8, {{{0, 0, 100, 100}, FALSE}}, {20, 20, 30, 30}, true, {0, 0, 100, 100}, 0},
        {9, {{{200, 200, 300, 300}, TRUE}}, {}, false, {}, 0},  // outside the window
    };
    for (const Row& row : rows) {
        Window w = Recorder({0, 0, 100, 100});
        Settle();
        for (const Inval& inval : row.invalidations) InvalidateRect(w, &inval.rect, inval.erase);
        if (!IsRectEmpty(&row.validate)) ValidateRect(w, &row.validate);
        DispatchPending();
        ASSERT_EQ(t_paints.size(), row.painted ? 1u : 0u) << "row " << row.line;
        if (row.painted) {
            EXPECT_TRUE(EqualRect(&t_paints[0].rcPaint, &row.expected))
                << "row " << row.line << ": expected " << Describe(row.expected) << ", got "
                << Describe(t_paints[0].rcPaint);
            EXPECT_FALSE(t_paints[0].fErase) << "row " << row.line;  // the handler erased
        }
        EXPECT_EQ(t_erases, row.erases) << "row " << row.line;
    }
}

TEST(UserPainting, ParentsPaintBeforeTheChildrenTheyOverlap) {
    struct Row {
        int line;
        DWORD parentStyle;
        size_t paints;
    } rows[] = {
        {1, 0, 3},                // no WS_CLIPCHILDREN: the children are redrawn too
        {2, WS_CLIPCHILDREN, 1},  // the children are left alone
    };
    for (const Row& row : rows) {
        Window parent = Recorder({0, 0, 100, 100}, WS_VISIBLE | row.parentStyle);
        Window child = Recorder({10, 10, 50, 50}, WS_VISIBLE, parent);
        Window grandchild = Recorder({1, 1, 5, 5}, WS_VISIBLE, child);
        Window hidden = Recorder({60, 60, 70, 70}, 0, parent);
        Settle();
        // The child's own invalidation comes first, yet its parent is painted first.
        RECT childArea{0, 0, 5, 5};
        if (row.parentStyle == 0) InvalidateRect(child, &childArea, FALSE);
        InvalidateRect(parent, nullptr, TRUE);
        DispatchPending();
        ASSERT_EQ(t_paints.size(), row.paints) << "row " << row.line;
        EXPECT_EQ(t_paints[0].hwnd, parent.get()) << "row " << row.line;
        if (row.paints == 3) {
            EXPECT_EQ(t_paints[1].hwnd, child.get()) << "row " << row.line;
            EXPECT_EQ(t_paints[2].hwnd, grandchild.get()) << "row " << row.line;
            RECT whole{0, 0, 40, 40};
            EXPECT_TRUE(EqualRect(&t_paints[1].rcPaint, &whole));
        }
    }
}

// The order of the paints follows the window tree, whatever the order of the invalidations:
// siblings in z-order (a new child goes to the bottom), each window before its children.
TEST(UserPainting, SiblingsPaintInZOrderWhateverOrderTheyWereInvalidatedIn) {
    Window parent = Recorder({0, 0, 100, 100}, WS_VISIBLE | WS_CLIPCHILDREN);
    Window top = Recorder({0, 0, 10, 10}, WS_VISIBLE, parent);
    Window middle = Recorder({20, 0, 30, 10}, WS_VISIBLE, parent);
    Window bottom = Recorder({40, 0, 50, 10}, WS_VISIBLE | WS_CLIPCHILDREN, parent);
    Window inBottom = Recorder({1, 1, 5, 5}, WS_VISIBLE, bottom);
    Settle();
    InvalidateRect(inBottom, nullptr, FALSE);
    InvalidateRect(bottom, nullptr, FALSE);
    InvalidateRect(top, nullptr, FALSE);
    InvalidateRect(middle, nullptr, FALSE);
    DispatchPending();
    const HWND expected[] = {top, middle, bottom, inBottom};
    ASSERT_EQ(std::size(expected), t_paints.size());
    for (size_t i = 0; i < t_paints.size(); ++i) {
        EXPECT_EQ(expected[i], t_paints[i].hwnd) << "paint " << i + 1;
    }
}

// Two small invalidations on either side of a child merge into one rectangle that covers it;
// the parent paints that whole rectangle, so the child must paint again after it.
TEST(UserPainting, ChildUnderTheMergedRegionIsRepaintedToo) {
    if (!LayerOnly("all", kOneUpdateRectangle)) return;
    Window parent = Recorder({0, 0, 100, 100});
    Window child = Recorder({40, 40, 60, 60}, WS_VISIBLE, parent);
    Settle();
    RECT left{0, 0, 10, 100}, right{90, 0, 100, 100};
    InvalidateRect(parent, &left, TRUE);
    InvalidateRect(parent, &right, TRUE);
    DispatchPending();
    ASSERT_EQ(t_paints.size(), 2u);
    EXPECT_EQ(t_paints[0].hwnd, parent.get());
    EXPECT_EQ(t_paints[1].hwnd, child.get());
    RECT whole{0, 0, 20, 20};
    EXPECT_TRUE(EqualRect(&t_paints[1].rcPaint, &whole));
}

TEST(UserPainting, HidingAChildInvalidatesTheParentAndShowingInvalidatesTheChild) {
    Window parent = Recorder({0, 0, 100, 100});
    Window child = Recorder({10, 20, 40, 50}, WS_VISIBLE, parent);
    Settle();

    EXPECT_TRUE(ShowWindow(child, SW_HIDE));  // it was visible
    RECT update;
    ASSERT_TRUE(GetUpdateRect(parent, &update, FALSE));
    RECT under{10, 20, 40, 50};
    EXPECT_TRUE(EqualRect(&update, &under)) << Describe(update);
    EXPECT_FALSE(IsWindowVisible(child));
    DispatchPending();
    EXPECT_EQ(t_erases, 1);  // the parent's area was erased
    Settle();

    EXPECT_FALSE(ShowWindow(child, SW_SHOW));  // it was hidden
    EXPECT_FALSE(GetUpdateRect(parent, &update, FALSE));
    ASSERT_TRUE(GetUpdateRect(child, &update, FALSE));
    RECT whole{0, 0, 30, 30};
    EXPECT_TRUE(EqualRect(&update, &whole)) << Describe(update);
    DispatchPending();
    ASSERT_EQ(t_paints.size(), 1u);
    EXPECT_EQ(t_erases, 1);

    // A hidden window has nothing to paint, whatever is invalidated.
    ShowWindow(parent, SW_HIDE);
    Settle();
    InvalidateRect(child, nullptr, TRUE);
    EXPECT_FALSE(GetUpdateRect(child, &update, FALSE));
}

TEST(UserPainting, UpdateWindowPaintsAtOnce) {
    Window w = Recorder({0, 0, 30, 30});
    Settle();
    UpdateWindow(w);
    EXPECT_TRUE(t_paints.empty());
    InvalidateRect(w, nullptr, FALSE);
    UpdateWindow(w);
    EXPECT_EQ(t_paints.size(), 1u);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST(UserPainting, RedrawWindowAndGetUpdateRectErase) {
    Window w = Recorder({0, 0, 50, 50});
    Settle();
    RECT area{5, 5, 15, 15};
    // Invalidate, erase and paint at once: nothing is left for the queue.
    ASSERT_TRUE(RedrawWindow(w, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW));
    ASSERT_EQ(t_paints.size(), 1u);
    EXPECT_TRUE(EqualRect(&t_paints[0].rcPaint, &area));
    EXPECT_EQ(t_erases, 1);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));

    // GetUpdateRect with erase sends WM_ERASEBKGND once; the paint then needs none.
    Settle();
    InvalidateRect(w, &area, TRUE);
    RECT update;
    EXPECT_TRUE(GetUpdateRect(w, &update, TRUE));
    EXPECT_TRUE(EqualRect(&update, &area));
    EXPECT_EQ(t_erases, 1);
    DispatchPending();
    EXPECT_EQ(t_erases, 1);
    ASSERT_EQ(t_paints.size(), 1u);

    // RDW_VALIDATE takes it all back.
    Settle();
    InvalidateRect(w, nullptr, TRUE);
    RedrawWindow(w, nullptr, nullptr, RDW_VALIDATE | RDW_NOERASE);
    EXPECT_FALSE(GetUpdateRect(w, &update, FALSE));
}

TEST(UserPainting, InvalidateRectFromAnotherThreadWakesTheOwner) {
    Window w = Recorder({0, 0, 64, 64});
    Settle();
    constexpr int kRounds = 200;
    std::atomic<int> done{0};
    std::thread painter([&] {
        for (int i = 0; i < kRounds; ++i) {
            RECT r{i % 60, 0, i % 60 + 4, 4};
            InvalidateRect(w, &r, FALSE);
            if (i % 20 == 0) std::this_thread::sleep_for(1ms);
        }
        done = 1;
        PostMessageA(w, WM_USER + 9, 0, 0);  // wakes the pump to look at done
    });
    ASSERT_TRUE(DispatchUntil([&] { return done.load() == 1; }, 10s));
    painter.join();
    DispatchPending();
    RECT update;
    EXPECT_FALSE(GetUpdateRect(w, &update, FALSE));  // everything invalidated got painted
    EXPECT_GE(t_paints.size(), 1u);
    EXPECT_LE(t_paints.size(), static_cast<size_t>(kRounds));  // merged, never queued
}

TEST(UserPainting, DefaultEraseFillsTheButtonFace) {
    Window dialog(WC_DIALOG, WS_POPUP | WS_VISIBLE, {0, 0, 20, 10});
    Window stat(WC_STATIC, WS_CHILD | WS_VISIBLE, {5, 2, 10, 6}, dialog);
    DispatchPending();
    HDC dc = GetDC(dialog);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetPixel(dc, 0, 0), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetPixel(dc, 7, 3), GetSysColor(COLOR_BTNFACE));
    ReleaseDC(dialog, dc);
}

TEST(UserMessages, CloseDestroysByDefault) {
    HWND w = CreateWindowExA(0, RecorderClass(), "", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr,
                             nullptr, nullptr);
    SendMessageA(w, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(w));
}

}  // namespace
