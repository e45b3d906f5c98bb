// MFC window classes: message maps, subclassing, handle maps, CPaintDC, extension modules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "afxdllx.h"
#include "afxwin.h"
#include "platform/capture.h"
#include "platform/pump.h"
#include "temp_dir.h"

namespace {

// What reached the original window procedure of a subclassed window.
std::vector<UINT> g_original;
LRESULT CALLBACK OriginalProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_original.push_back(message);
    if (message == WM_USER + 50) return 500;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

const char* OriginalClass() {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = OriginalProc;
        wc.lpszClassName = "AfxTestOriginal";
        return RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    return "AfxTestOriginal";
}

HWND MakeOriginal(DWORD style = WS_POPUP | WS_VISIBLE) {
    return CreateWindowExA(0, OriginalClass(), "", style, 0, 0, 40, 30, nullptr, nullptr, nullptr,
                           nullptr);
}

// ---- A base and a derived map ---------------------------------------------------------------

class CBaseView : public CWnd {
public:
    std::vector<std::string> calls;

protected:
    afx_msg void OnPaint() {
        calls.push_back("base paint");
        CPaintDC dc(this);
    }
    afx_msg LRESULT OnPing(WPARAM wParam, LPARAM lParam) {
        calls.push_back("base ping");
        return static_cast<LRESULT>(wParam) * 10 + lParam;
    }
    afx_msg void OnPong(WPARAM, LPARAM) {}
    afx_msg LRESULT OnShadowed(WPARAM, LPARAM) {
        calls.push_back("base shadowed");
        return 1;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseView, CWnd)
ON_WM_PAINT()
ON_MESSAGE(WM_USER + 1, OnPing)
ON_MESSAGE(WM_USER + 2, OnShadowed)
END_MESSAGE_MAP()

class CDerivedView : public CBaseView {
public:
    UINT lastTimer = 0;
    UINT rawFlags = 0;
    long rawPoint = 0;
    UINT rawMessage = 0;

protected:
    afx_msg void OnTimer(UINT id) {
        calls.push_back("derived timer");
        lastTimer = id;
        CWnd::OnTimer(id);  // default processing reaches the original procedure
    }
    afx_msg void OnMouseMove(UINT flags, long point) { Raw(WM_MOUSEMOVE, flags, point); }
    afx_msg void OnLButtonDblclk(UINT flags, long point) { Raw(WM_LBUTTONDBLCLK, flags, point); }
    afx_msg LRESULT OnShadowed(WPARAM, LPARAM) {
        calls.push_back("derived shadowed");
        return 2;
    }
    afx_msg void OnDestroy() {
        calls.push_back("derived destroy");
        CWnd::OnDestroy();
    }
    void PostNcDestroy() override { calls.push_back("post nc destroy"); }

private:
    void Raw(UINT message, UINT flags, long point) {
        rawMessage = message;
        rawFlags = flags;
        rawPoint = point;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedView, CBaseView)
ON_WM_TIMER()
ON_MESSAGE_RAW(WM_MOUSEMOVE, OnMouseMove)
ON_MESSAGE_RAW(WM_LBUTTONDBLCLK, OnLButtonDblclk)
ON_MESSAGE(WM_USER + 2, OnShadowed)
ON_WM_DESTROY()
END_MESSAGE_MAP()

TEST(AfxMessageMaps, DispatchWalksFromTheDerivedMapToItsBasesThenTheOriginalProcedure) {
    HWND hwnd = MakeOriginal();
    CDerivedView view;
    ASSERT_TRUE(view.SubclassWindow(hwnd));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)), &AfxWndProc);
    g_original.clear();

    struct Row {
        int line;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;
        const char* call;      // the handler expected, or null
        bool reachesOriginal;  // the original procedure sees the message
    } rows[] = {
        {1, WM_USER + 1, 4, 2, 42, "base ping", false},        // base map
        {2, WM_USER + 2, 0, 0, 2, "derived shadowed", false},  // the derived entry wins
        {3, WM_TIMER, 9, 0, 0, "derived timer", true},         // Default() passes it on
        {4, WM_USER + 50, 0, 0, 500, nullptr, true},           // no entry: original proc
        {5, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(3, 4), 0, nullptr, false},
    };
    for (const Row& row : rows) {
        view.calls.clear();
        g_original.clear();
        LRESULT result = SendMessageA(hwnd, row.message, row.wParam, row.lParam);
        EXPECT_EQ(result, row.result) << "row " << row.line;
        if (row.call) {
            ASSERT_EQ(view.calls.size(), 1u) << "row " << row.line;
            EXPECT_EQ(view.calls[0], row.call) << "row " << row.line;
        } else {
            EXPECT_TRUE(view.calls.empty()) << "row " << row.line;
        }
        bool reached = !g_original.empty() && g_original.back() == row.message;
        EXPECT_EQ(reached, row.reachesOriginal) << "row " << row.line;
    }
    EXPECT_EQ(view.lastTimer, 9u);

    EXPECT_EQ(view.UnsubclassWindow(), hwnd);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)), &OriginalProc);
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
    DestroyWindow(hwnd);
}

TEST(AfxMessageMaps, RawFormGetsBothParametersUnconverted) {
    HWND hwnd = MakeOriginal();
    CDerivedView view;
    ASSERT_TRUE(view.SubclassWindow(hwnd));
    struct Row {
        int line;
        UINT message;
        WPARAM flags;
        int x, y;
        long expected;
    } rows[] = {
        {1, WM_MOUSEMOVE, 0, 0, 0, 0},
        {2, WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, 15, 20, 0x0014000F},
        {3, WM_LBUTTONDBLCLK, MK_LBUTTON | MK_CONTROL | MK_MBUTTON, 640, 1, 0x00010280},
        // A point above the window (y < 0) is a negative 32-bit value, as on the original.
        {4, WM_MOUSEMOVE, MK_RBUTTON, 5, -3, -196603},
        {5, WM_LBUTTONDBLCLK, 0, -1, 7, 0x0007FFFF},
    };
    for (const Row& row : rows) {
        view.rawMessage = 0;
        SendMessageA(hwnd, row.message, row.flags, MAKELPARAM(row.x, row.y));
        EXPECT_EQ(view.rawMessage, row.message) << "row " << row.line;
        EXPECT_EQ(view.rawFlags, row.flags) << "row " << row.line;
        EXPECT_EQ(view.rawPoint, row.expected) << "row " << row.line;
    }
    view.DestroyWindow();
    EXPECT_EQ(view.m_hWnd, nullptr);
}

TEST(AfxMessageMaps, PaintAndDestroyThroughTheMaps) {
    HWND hwnd = MakeOriginal();
    CDerivedView view;
    ASSERT_TRUE(view.SubclassWindow(hwnd));
    platform::PumpPendingMessages();
    view.calls.clear();
    view.InvalidateRect(nullptr, FALSE);
    platform::PumpPendingMessages();
    // CPaintDC validated the window: one paint only.
    ASSERT_EQ(view.calls.size(), 1u);
    EXPECT_EQ(view.calls[0], "base paint");

    view.calls.clear();
    g_original.clear();
    ASSERT_TRUE(DestroyWindow(hwnd));
    std::vector<std::string> expected = {"derived destroy", "post nc destroy"};
    EXPECT_EQ(view.calls, expected);
    EXPECT_EQ(view.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
    // Both reached the original procedure through Default(), WM_NCDESTROY last.
    ASSERT_FALSE(g_original.empty());
    EXPECT_EQ(g_original.back(), static_cast<UINT>(WM_NCDESTROY));
}

// ---- Creation, handle maps and geometry helpers ----------------------------------------------

class CCreateWatcher : public CStatic {
public:
    std::vector<UINT> seen;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        seen.push_back(message);
        return CStatic::WindowProc(message, wParam, lParam);
    }
};

TEST(AfxWindows, CreateRoutesMessagesFromTheFirstAndKeepsTheClassProcedure) {
    HWND dialog = CreateWindowExA(0, WC_DIALOG, "", WS_POPUP | WS_VISIBLE, 200, 100, 300, 200,
                                  nullptr, nullptr, nullptr, nullptr);
    CWnd* parent = CWnd::FromHandle(dialog);
    CCreateWatcher stat;
    ASSERT_TRUE(stat.Create("", WS_VISIBLE | SS_NOTIFY, CRect(10, 20, 60, 50), parent, 1001));
    ASSERT_FALSE(stat.seen.empty());
    EXPECT_EQ(stat.seen.front(), static_cast<UINT>(WM_NCCREATE));
    char name[16];
    GetClassNameA(stat.m_hWnd, name, sizeof name);
    EXPECT_STREQ(name, "Static");
    EXPECT_EQ(stat.GetDlgCtrlID(), 1001);
    EXPECT_TRUE(stat.GetStyle() & WS_CHILD);
    // The static's own procedure still answers what no map handles: SS_NOTIFY makes it opaque.
    EXPECT_EQ(stat.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(215, 125)), HTCLIENT);

    // The parent found through the control is the temporary object made for the dialog.
    EXPECT_EQ(stat.GetParent(), parent);
    EXPECT_EQ(CWnd::FromHandle(dialog), parent);
    EXPECT_EQ(CWnd::FromHandlePermanent(dialog), nullptr);
    EXPECT_EQ(parent->GetDlgItem(1001), &stat);

    // The control's rectangle in its parent's client coordinates, as the picture code takes it.
    CRect r;
    stat.GetWindowRect(&r);
    EXPECT_EQ(r, CRect(210, 120, 260, 150));
    stat.GetParent()->ScreenToClient(&r);
    EXPECT_EQ(r, CRect(10, 20, 60, 50));
    stat.ClientToScreen(&r);
    EXPECT_EQ(r, CRect(220, 140, 270, 170));

    ASSERT_TRUE(stat.SetWindowPos(nullptr, 0, 0, 96, 48, SWP_NOMOVE | SWP_NOZORDER));
    stat.GetWindowRect(&r);
    EXPECT_EQ(r, CRect(210, 120, 306, 168));

    // Destroying the parent takes the control and its attachment with it.
    DestroyWindow(dialog);
    EXPECT_EQ(stat.m_hWnd, nullptr);
    AfxDeleteTempMaps();
}

TEST(AfxWindows, TimersAndDCsThroughTheObject) {
    HWND hwnd = MakeOriginal();
    CDerivedView view;
    ASSERT_TRUE(view.SubclassWindow(hwnd));
    EXPECT_EQ(view.SetTimer(1, 10, nullptr), 1u);
    ASSERT_TRUE(
        platform::PumpMessagesUntil([&] { return view.lastTimer == 1; }, std::chrono::seconds(10)));
    EXPECT_TRUE(view.KillTimer(1));

    CDC* dc = view.GetDC();
    ASSERT_NE(dc, nullptr);
    EXPECT_NE(dc->GetSafeHdc(), nullptr);
    EXPECT_EQ(view.ReleaseDC(dc), 1);
    view.DestroyWindow();
}

TEST(AfxWindows, SubclassDlgItemAttachesToTheDialogsControl) {
    HWND dialog = CreateWindowExA(0, WC_DIALOG, "", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    HWND item = CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 5, 5, 20, 20,
                                dialog, reinterpret_cast<HMENU>(7), nullptr, nullptr);
    CDerivedView view;
    EXPECT_FALSE(view.SubclassDlgItem(8, CWnd::FromHandle(dialog)));
    ASSERT_TRUE(view.SubclassDlgItem(7, CWnd::FromHandle(dialog)));
    EXPECT_EQ(view.m_hWnd, item);
    EXPECT_EQ(CWnd::FromHandle(item), &view);
    DestroyWindow(dialog);
    EXPECT_EQ(view.m_hWnd, nullptr);
    std::vector<std::string> expected = {"derived destroy", "post nc destroy"};
    EXPECT_EQ(view.calls, expected);
    AfxDeleteTempMaps();
}

TEST(AfxWindows, ObjectDestroysTheWindowItStillHolds) {
    HWND hwnd = MakeOriginal();
    {
        CDerivedView view;
        ASSERT_TRUE(view.SubclassWindow(hwnd));
        EXPECT_FALSE(view.SubclassWindow(hwnd));  // already attached
    }
    EXPECT_FALSE(IsWindow(hwnd));
}

// ---- End to end: a dialog, a static child painting a memory surface, the captured screen -----

class CSurfaceStatic : public CStatic {
public:
    static constexpr int kWidth = 8;
    static constexpr int kHeight = 6;
    static COLORREF Pattern(int x, int y) { return RGB(x * 30, y * 40, 200 - x * y); }

    ~CSurfaceStatic() override {
        if (m_memDC) {
            SelectObject(m_memDC, m_oldBitmap);
            DeleteDC(m_memDC);
            DeleteObject(m_bitmap);
        }
    }
    // The surface is made from the window's DC, as the picture control makes its own.
    void MakeSurface() {
        HDC windowDC = ::GetDC(m_hWnd);
        m_memDC = CreateCompatibleDC(windowDC);
        m_bitmap = CreateCompatibleBitmap(windowDC, kWidth, kHeight);
        ::ReleaseDC(m_hWnd, windowDC);
        m_oldBitmap = SelectObject(m_memDC, m_bitmap);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) SetPixel(m_memDC, x, y, Pattern(x, y));
        }
    }

protected:
    afx_msg void OnPaint() {
        CPaintDC dc(this);
        BitBlt(dc.m_hDC, 0, 0, kWidth, kHeight, m_memDC, 0, 0, SRCCOPY);
    }
    DECLARE_MESSAGE_MAP()

private:
    HDC m_memDC = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_oldBitmap = nullptr;
};

BEGIN_MESSAGE_MAP(CSurfaceStatic, CStatic)
ON_WM_PAINT()
END_MESSAGE_MAP()

TEST(AfxEndToEnd, DialogShowsTheStaticsMemorySurfacePixelForPixel) {
    HWND dialog = CreateWindowExA(0, WC_DIALOG, "", WS_POPUP | WS_VISIBLE, 50, 60, 40, 30, nullptr,
                                  nullptr, nullptr, nullptr);
    CSurfaceStatic picture;
    ASSERT_TRUE(picture.Create("", WS_VISIBLE | SS_NOTIFY, CRect(10, 12, 18, 18),
                               CWnd::FromHandle(dialog)));
    picture.MakeSurface();
    picture.Invalidate(FALSE);
    platform::PumpPendingMessages();

    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::CaptureWindow(dialog, &pixels, &width, &height));
    ASSERT_EQ(width, 40);
    ASSERT_EQ(height, 30);
    auto screen = [](COLORREF c) {
        return static_cast<uint32_t>(GetRValue(c)) << 16 |
               static_cast<uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
    };
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool inside = x >= 10 && x < 18 && y >= 12 && y < 18;
            uint32_t expected = inside ? screen(CSurfaceStatic::Pattern(x - 10, y - 12))
                                       : screen(RGB(240, 240, 240));
            uint32_t got = pixels[static_cast<size_t>(y * width + x)];
            if (got != expected && wrong++ < 5) {
                ADD_FAILURE() << "pixel (" << x << "," << y << "): expected " << std::hex
                              << expected << ", got " << got;
            }
        }
    }
    EXPECT_EQ(wrong, 0);

    portrix_test::TempDir dir;
    ASSERT_TRUE(platform::SaveWindowPng(dialog, dir / "dialog.png"));
    std::vector<uint32_t> saved;
    ASSERT_TRUE(platform::LoadPng(dir / "dialog.png", &saved, &width, &height));
    EXPECT_EQ(saved, pixels);
    DestroyWindow(dialog);
    AfxDeleteTempMaps();
}

// ---- Extension modules ----------------------------------------------------------------------

CRuntimeClass MakeClass(const char* name) {
    return CRuntimeClass{name, 0, 0, nullptr, nullptr, nullptr};
}

int ChainLength() {
    int n = 0;
    for (CDynLinkLibrary* dll = AfxGetModuleState()->m_pFirstDLL; dll; dll = dll->m_pNextDLL) ++n;
    return n;
}

TEST(AfxExtensionModules, RawEntryParksTheListsAndInitAdoptsWhatCameSince) {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    static CRuntimeClass hostClass = MakeClass("CHost");
    static CRuntimeClass moduleClassA = MakeClass("CModuleA");
    static CRuntimeClass moduleClassB = MakeClass("CModuleB");
    static COleObjectFactory hostFactory;
    static COleObjectFactory moduleFactory;
    AfxClassInit(&hostClass);
    AfxRegisterFactory(&hostFactory);

    // Other reasons do nothing.
    for (DWORD reason :
         {DWORD{DLL_PROCESS_DETACH}, DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH}}) {
        EXPECT_TRUE(AfxExtensionRawEntry(nullptr, reason, nullptr));
        EXPECT_EQ(state->m_pFirstClass, &hostClass) << "reason " << reason;
    }

    EXPECT_TRUE(AfxExtensionRawEntry(nullptr, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(state->m_pFirstClass, nullptr);
    EXPECT_EQ(state->m_pFirstFactory, nullptr);
    EXPECT_EQ(state->m_pPendingFirstClass, &hostClass);
    EXPECT_EQ(state->m_pPendingFirstFactory, &hostFactory);

    // The module's static initialisation.
    AfxClassInit(&moduleClassA);
    AfxClassInit(&moduleClassB);
    AfxRegisterFactory(&moduleFactory);

    AFX_EXTENSION_MODULE module{};
    auto instance = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x5000));
    ASSERT_TRUE(AfxInitExtensionModule(module, instance));
    EXPECT_TRUE(module.bInitialized);
    EXPECT_EQ(module.hModule, instance);
    EXPECT_EQ(module.pFirstSharedClass, &moduleClassB);
    EXPECT_EQ(module.pFirstSharedClass->m_pNextClass, &moduleClassA);
    EXPECT_EQ(module.pFirstSharedFactory, &moduleFactory);
    EXPECT_EQ(state->m_pFirstClass, &hostClass);  // the host's list is back
    EXPECT_EQ(state->m_pFirstFactory, &hostFactory);
    EXPECT_EQ(state->m_pPendingFirstClass, nullptr);

    // A second initialisation of the same record changes nothing.
    ASSERT_TRUE(AfxInitExtensionModule(module, nullptr));
    EXPECT_EQ(module.hModule, instance);

    // CDynLinkLibrary links itself in; termination removes this module's only.
    int before = ChainLength();
    AFX_EXTENSION_MODULE other{};
    AfxInitExtensionModule(other, reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x6000)));
    auto* otherDll = new CDynLinkLibrary(other);
    auto* dll = new CDynLinkLibrary(module);
    EXPECT_EQ(state->m_pFirstDLL, dll);
    EXPECT_EQ(dll->m_pFirstSharedClass, &moduleClassB);
    EXPECT_EQ(ChainLength(), before + 2);
    AfxTermExtensionModule(module);
    EXPECT_EQ(ChainLength(), before + 1);
    EXPECT_EQ(state->m_pFirstDLL, otherDll);
    AfxTermExtensionModule(other);
    EXPECT_EQ(ChainLength(), before);
    state->m_pFirstClass = nullptr;
    state->m_pFirstFactory = nullptr;
}

}  // namespace
