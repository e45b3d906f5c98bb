// The message box on a display: a top-level window of the layer, drawn with its own GDI
// calls, with a row of buttons, run modally on the calling thread until a button is chosen.
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "afxmsgbox.h"
#include "internal/display.h"
#include "windows.h"

namespace {

constexpr char kClassName[] = "PortrixMessageBox";
constexpr int kPadding = 16;
constexpr int kMaxTextWidth = 480;
constexpr int kMinTextWidth = 160;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
constexpr int kBorder = 1;
constexpr COLORREF kFace = RGB(240, 240, 240);
constexpr COLORREF kButtonFill = RGB(253, 253, 253);
constexpr COLORREF kButtonEdge = RGB(173, 173, 173);
constexpr COLORREF kDefaultEdge = RGB(0, 120, 215);
constexpr COLORREF kText = RGB(0, 0, 0);

struct Button {
    int id;
    const char* label;
};

struct ButtonSet {
    UINT type;
    std::vector<Button> buttons;
    int cancel;  // what Escape and the window manager's close choose; 0: they do nothing
};

const std::vector<ButtonSet>& ButtonSets() {
    static const std::vector<ButtonSet> sets = {
        {MB_OK, {{IDOK, "OK"}}, IDOK},
        {MB_OKCANCEL, {{IDOK, "OK"}, {IDCANCEL, "Cancel"}}, IDCANCEL},
        {MB_ABORTRETRYIGNORE, {{IDABORT, "Abort"}, {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}}, 0},
        {MB_YESNOCANCEL, {{IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}}, IDCANCEL},
        {MB_YESNO, {{IDYES, "Yes"}, {IDNO, "No"}}, 0},
        {MB_RETRYCANCEL, {{IDRETRY, "Retry"}, {IDCANCEL, "Cancel"}}, IDCANCEL},
    };
    return sets;
}

struct Box {
    std::string text;
    RECT textRect{};
    std::vector<Button> buttons;
    std::vector<RECT> buttonRects;
    size_t defaultButton = 0;
    int cancel = 0;
    int chosen = 0;
};

Box* BoxOf(HWND hwnd) {
    return reinterpret_cast<Box*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void FillColor(HDC dc, const RECT& rect, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void Paint(HWND hwnd, const Box& box) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    if (dc == nullptr) return;
    RECT client;
    GetClientRect(hwnd, &client);
    FillColor(dc, client, kFace);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kText);
    RECT textRect = box.textRect;
    DrawTextA(dc, box.text.c_str(), -1, &textRect, DT_WORDBREAK | DT_NOPREFIX);
    for (size_t i = 0; i < box.buttons.size(); ++i) {
        RECT rect = box.buttonRects[i];
        FillColor(dc, rect, i == box.defaultButton ? kDefaultEdge : kButtonEdge);
        InflateRect(&rect, -kBorder, -kBorder);
        FillColor(dc, rect, kButtonFill);
        DrawTextA(dc, box.buttons[i].label, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    SelectObject(dc, oldFont);
    EndPaint(hwnd, &paint);
}

LRESULT CALLBACK BoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Box* box = BoxOf(hwnd);
    if (box == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
        case WM_PAINT:
            Paint(hwnd, *box);
            return 0;
        case WM_LBUTTONUP: {
            const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            for (size_t i = 0; i < box->buttons.size(); ++i) {
                if (PtInRect(&box->buttonRects[i], point)) box->chosen = box->buttons[i].id;
            }
            return 0;
        }
        case WM_KEYDOWN:
            if (wParam == VK_RETURN || wParam == VK_SPACE) {
                box->chosen = box->buttons[box->defaultButton].id;
            } else if (wParam == VK_ESCAPE) {
                box->chosen = box->cancel;
            }
            return 0;
        case WM_CLOSE:
            box->chosen = box->cancel;
            return 0;
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

void RegisterBoxClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = BoxProc;
        windowClass.lpszClassName = kClassName;
        RegisterClassA(&windowClass);
    });
}

// Sizes the box to its text and buttons; returns the client size.
SIZE Layout(Box* box) {
    RECT measured{0, 0, kMaxTextWidth, 0};
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextA(dc, box->text.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    DeleteDC(dc);
    const int count = static_cast<int>(box->buttons.size());
    const int rowWidth = count * kButtonWidth + (count - 1) * kButtonGap;
    const int textWidth = std::max<int>(measured.right - measured.left, kMinTextWidth);
    const int width = std::max(textWidth, rowWidth) + 2 * kPadding;
    const int textHeight = measured.bottom - measured.top;
    box->textRect = {kPadding, kPadding, kPadding + textWidth, kPadding + textHeight};
    const int top = kPadding + textHeight + kPadding;
    int left = (width - rowWidth) / 2;
    for (int i = 0; i < count; ++i, left += kButtonWidth + kButtonGap) {
        box->buttonRects.push_back({left, top, left + kButtonWidth, top + kButtonHeight});
    }
    return {width, top + kButtonHeight + kPadding};
}

}  // namespace

namespace platform::internal {

int DisplayMessageBox(LPCSTR text, LPCSTR caption, UINT type) {
    if (!DisplayConnected()) return 0;
    const auto& sets = ButtonSets();
    auto set = std::find_if(sets.begin(), sets.end(), [&](const ButtonSet& candidate) {
        return candidate.type == (type & MB_TYPEMASK);
    });
    if (set == sets.end()) set = sets.begin();
    auto box = std::make_unique<Box>();
    box->text = text ? text : "";
    box->buttons = set->buttons;
    box->cancel = set->cancel;
    const size_t defaultIndex = (type & MB_DEFBUTTON3) ? 2 : (type & MB_DEFBUTTON2) ? 1 : 0;
    box->defaultButton = std::min(defaultIndex, box->buttons.size() - 1);
    const SIZE size = Layout(box.get());

    RegisterBoxClass();
    HWND hwnd =
        CreateWindowExA(0, kClassName, caption ? caption : "", WS_POPUP | WS_CAPTION | WS_SYSMENU,
                        (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2,
                        (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2, size.cx, size.cy, nullptr,
                        nullptr, nullptr, nullptr);
    if (hwnd == nullptr) return 0;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(box.get()));
    ShowWindow(hwnd, SW_SHOW);

    // The box's own loop runs the thread's other windows too, as a modal loop does.
    MSG message;
    // A display lost meanwhile wakes the loop (WM_NULL) and ends it: the box then answers as
    // without a display.
    while (box->chosen == 0 && IsWindow(hwnd) && DisplayConnected()) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the caller's loop
            break;
        }
        if (got < 0) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (IsWindow(hwnd)) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
    }
    if (box->chosen != 0) return box->chosen;
    if (!DisplayConnected()) return 0;
    return box->cancel != 0 ? box->cancel : box->buttons[box->defaultButton].id;
}

}  // namespace platform::internal
