#include "DemoDialog.h"

#include <array>
#ifdef _WIN32
#include <commctrl.h>  // WC_STATIC
#endif

namespace demo {

namespace {

constexpr COLORREF kTitleColour = RGB(0x1A, 0x23, 0x7E);
constexpr COLORREF kNameColour = RGB(0x21, 0x21, 0x21);
constexpr COLORREF kHintColour = RGB(0x55, 0x5B, 0x66);
constexpr COLORREF kShownColour = RGB(0x8A, 0x4B, 0x00);    // on its way
constexpr COLORREF kSettledColour = RGB(0x1B, 0x6E, 0x20);  // where it should end
constexpr COLORREF kHighlightColour = RGB(0xF5, 0x7C, 0x00);
constexpr int kHighlightWidth = 2;
constexpr char kFace[] = "DejaVu Sans";

// One piece of text in its area, cut with an ellipsis where it does not fit.
void Write(HDC dc, HFONT font, COLORREF colour, const std::string& text, RECT area, UINT format) {
    HGDIOBJ previous = ::SelectObject(dc, font);
    ::SetTextColor(dc, colour);
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &area,
                format | DT_NOPREFIX | DT_END_ELLIPSIS);
    ::SelectObject(dc, previous);
}

// The four edges of the highlight frame along the inside of a cell.
std::array<RECT, 4> FrameEdges(const RECT& cell) {
    return {RECT{cell.left, cell.top, cell.right, cell.top + kHighlightWidth},
            RECT{cell.left, cell.bottom - kHighlightWidth, cell.right, cell.bottom},
            RECT{cell.left, cell.top, cell.left + kHighlightWidth, cell.bottom},
            RECT{cell.right - kHighlightWidth, cell.top, cell.right, cell.bottom}};
}

int LineHeight(HDC dc, HFONT font) {
    HGDIOBJ previous = ::SelectObject(dc, font);
    TEXTMETRICA metrics = {};
    ::GetTextMetricsA(dc, &metrics);
    ::SelectObject(dc, previous);
    return metrics.tmHeight;
}

}  // namespace

BackgroundPicture::BackgroundPicture(const Pixels& pixels, int width, int height) {
    HDC screen = ::GetDC(nullptr);
    dc_ = ::CreateCompatibleDC(screen);
    ::ReleaseDC(nullptr, screen);
    bitmap_ = ::CreateBitmap(width, height, 1, 32, pixels.data());
    if (dc_ != nullptr && bitmap_ != nullptr) displaced_ = ::SelectObject(dc_, bitmap_);
}

BackgroundPicture::~BackgroundPicture() {
    if (dc_ != nullptr && displaced_ != nullptr) ::SelectObject(dc_, displaced_);
    if (dc_ != nullptr) ::DeleteDC(dc_);
    if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
}

OwnedFont::OwnedFont(int pixelHeight, int weight)
    : font_(::CreateFontA(pixelHeight, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                          VARIABLE_PITCH | FF_SWISS, kFace)) {}

OwnedFont::~OwnedFont() {
    if (font_ != nullptr) ::DeleteObject(font_);
}

BEGIN_MESSAGE_MAP(CDemoDialog, CWnd)
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_CLOSE()
END_MESSAGE_MAP()

void CDemoDialog::OnClose() {
    closeAsked_ = true;
}

CDemoDialog::CDemoDialog(const Pixels& background, int width, int height,
                         const DialogLayout& layout)
    : width_(width), height_(height), layout_(layout), background_(background, width, height) {}

CDemoDialog::~CDemoDialog() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
    avatars_.clear();
}

bool CDemoDialog::Open(const char* title, int x, int y) {
    if (!background_.ok()) return false;
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    RECT frame = {x, y, x + width_, y + height_};
#ifdef _WIN32
    // Windows draws the caption and the borders inside the window's rectangle: the rectangle
    // grows by them, so that the client area keeps the dialog's size as the layer's does.
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
#endif
    HWND hwnd = ::CreateWindowExA(0, WC_DIALOG, title, style, frame.left, frame.top,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, nullptr, nullptr);
    if (hwnd == nullptr) return false;
    if (!SubclassWindow(hwnd)) {
        ::DestroyWindow(hwnd);
        return false;
    }
    ::InvalidateRect(hwnd, nullptr, TRUE);
    return true;
}

CPortrix* CDemoDialog::AddAvatar(int id, const RECT& control, const RECT& caption, const RECT& cell,
                                 const std::string& name, const std::string& hint) {
    HWND child = ::CreateWindowExA(
        0, WC_STATIC, "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, control.left, control.top,
        control.right - control.left, control.bottom - control.top, m_hWnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (child == nullptr) return nullptr;
    auto avatar = std::make_unique<CPortrix>();
    if (!avatar->SubclassWindow(child)) {
        ::DestroyWindow(child);
        return nullptr;
    }
    avatars_.push_back(std::move(avatar));
    captions_.push_back(Caption{caption, cell, name, hint, "", false});
    Repaint(caption);
    return avatars_.back().get();
}

void CDemoDialog::Repaint(const RECT& area) {
    // OnPaint draws the background under the text again, so nothing needs erasing first.
    if (m_hWnd != nullptr) ::InvalidateRect(m_hWnd, &area, FALSE);
}

void CDemoDialog::SetTitle(const std::string& title, const std::string& subtitle) {
    title_ = title;
    subtitle_ = subtitle;
    Repaint(layout_.title);
    Repaint(layout_.subtitle);
}

void CDemoDialog::SetStatus(const std::string& status) {
    if (status == status_) return;
    status_ = status;
    Repaint(layout_.status);
}

void CDemoDialog::SetShown(size_t index, const std::string& shown, bool settled) {
    if (index >= captions_.size()) return;
    Caption& caption = captions_[index];
    if (caption.shown == shown && caption.settled == settled) return;
    caption.shown = shown;
    caption.settled = settled;
    Repaint(caption.area);
}

void CDemoDialog::SetHighlight(int index) {
    if (index == highlight_) return;
    // A frame is drawn around the control, never over it: only the cell's edges need painting.
    for (int framed : {highlight_, index}) {
        if (framed < 0 || static_cast<size_t>(framed) >= captions_.size()) continue;
        for (const RECT& edge : FrameEdges(captions_[static_cast<size_t>(framed)].cell))
            Repaint(edge);
    }
    highlight_ = index;
}

BOOL CDemoDialog::OnEraseBkgnd(CDC* dc) {
    ::BitBlt(dc->GetSafeHdc(), 0, 0, width_, height_, background_.dc(), 0, 0, SRCCOPY);
    return TRUE;
}

void CDemoDialog::DrawCaption(HDC dc, const Caption& caption) const {
    // Three lines: the control's name, what the host does with it, and (in one or two lines)
    // what it shows now.
    RECT line = caption.area;
    line.bottom = line.top + LineHeight(dc, nameFont_.get());
    Write(dc, nameFont_.get(), kNameColour, caption.name, line, DT_SINGLELINE);
    line.top = line.bottom;
    line.bottom = line.top + LineHeight(dc, textFont_.get());
    Write(dc, textFont_.get(), kHintColour, caption.hint, line, DT_SINGLELINE);
    line.top = line.bottom;
    line.bottom = caption.area.bottom;
    const std::string shown = caption.shown.empty() ? "" : "shows " + caption.shown;
    Write(dc, textFont_.get(), caption.settled ? kSettledColour : kShownColour, shown, line,
          DT_WORDBREAK);
}

void CDemoDialog::DrawFrame(HDC dc, const RECT& cell) const {
    HBRUSH brush = ::CreateSolidBrush(kHighlightColour);
    for (const RECT& edge : FrameEdges(cell)) ::FillRect(dc, &edge, brush);
    ::DeleteObject(brush);
}

void CDemoDialog::OnPaint() {
    // The controls take their background from what the dialog shows under them, so every
    // paint puts the picture back, erased or not; the text and the frame lie outside them.
    CPaintDC paint(this);
    HDC dc = paint.GetSafeHdc();
    const RECT& r = paint.m_ps.rcPaint;
    ::BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, background_.dc(), r.left, r.top,
             SRCCOPY);
    ::SetBkMode(dc, TRANSPARENT);
    Write(dc, titleFont_.get(), kTitleColour, title_, layout_.title, DT_SINGLELINE | DT_VCENTER);
    Write(dc, textFont_.get(), kHintColour, subtitle_, layout_.subtitle,
          DT_SINGLELINE | DT_VCENTER);
    for (const Caption& caption : captions_) DrawCaption(dc, caption);
    Write(dc, textFont_.get(), kNameColour, status_, layout_.status, DT_SINGLELINE | DT_VCENTER);
    if (highlight_ >= 0 && static_cast<size_t>(highlight_) < captions_.size())
        DrawFrame(dc, captions_[static_cast<size_t>(highlight_)].cell);
}

}  // namespace demo
