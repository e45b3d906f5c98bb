// CWnd: the permanent and temporary handle maps, subclassing, creation, AfxWndProc and Default.
#include <memory>
#include <mutex>
#include <unordered_map>

#include "afx/wnd_temp_maps.h"
#include "afxwin.h"
#include "internal/create_hook.h"

namespace {

// Windows attached to a CWnd, for the whole process.
struct PermanentMap {
    std::mutex lock;
    std::unordered_map<HWND, CWnd*> windows;
};
PermanentMap& Permanent() {
    static auto* map = new PermanentMap;
    return *map;
}

struct TempWndDeleter {
    void operator()(CWnd* wnd) const {
        wnd->m_hWnd = nullptr;  // a temporary object never owns its window
        delete wnd;
    }
};
thread_local std::unordered_map<HWND, std::unique_ptr<CWnd, TempWndDeleter>> t_tempWindows;

// The message being handled on this thread, for Default().
thread_local MSG t_lastSent{};

bool IsAttached(HWND hwnd, const CWnd* wnd) {
    PermanentMap& map = Permanent();
    std::lock_guard<std::mutex> lock(map.lock);
    auto it = map.windows.find(hwnd);
    return it != map.windows.end() && it->second == wnd;
}

// Routes the new window's messages through AfxWndProc from its first message on.
void HookCreatedWindow(HWND hwnd, void* context) {
    auto* wnd = static_cast<CWnd*>(context);
    if (!wnd->Attach(hwnd)) return;
    auto old = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    wnd->m_pfnSuper = old == &AfxWndProc ? nullptr : old;
}

}  // namespace

// CWnd's own map: only the clean-up after the window is gone.
BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
ON_WM_NCDESTROY()
END_MESSAGE_MAP()

CWnd::~CWnd() {
    // A window still attached when its object dies is destroyed with it, as MFC does.
    if (m_hWnd && IsAttached(m_hWnd, this)) {
        ::DestroyWindow(m_hWnd);
        if (m_hWnd) Detach();
    }
}

BOOL CWnd::Attach(HWND hwnd) {
    if (!hwnd || m_hWnd) return FALSE;
    PermanentMap& map = Permanent();
    std::lock_guard<std::mutex> lock(map.lock);
    if (!map.windows.emplace(hwnd, this).second) return FALSE;
    m_hWnd = hwnd;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hwnd = m_hWnd;
    if (hwnd) {
        PermanentMap& map = Permanent();
        std::lock_guard<std::mutex> lock(map.lock);
        auto it = map.windows.find(hwnd);
        if (it != map.windows.end() && it->second == this) map.windows.erase(it);
    }
    m_hWnd = nullptr;
    return hwnd;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
    if (!::IsWindow(hwnd) || !Attach(hwnd)) return FALSE;
    auto old = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    m_pfnSuper = old == &AfxWndProc ? nullptr : old;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    HWND item = parent ? ::GetDlgItem(parent->m_hWnd, static_cast<int>(id)) : nullptr;
    return item ? SubclassWindow(item) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
    if (!m_hWnd) return nullptr;
    if (m_pfnSuper) {
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        m_pfnSuper = nullptr;
    }
    return Detach();
}

CWnd* PASCAL CWnd::FromHandlePermanent(HWND hwnd) {
    PermanentMap& map = Permanent();
    std::lock_guard<std::mutex> lock(map.lock);
    auto it = map.windows.find(hwnd);
    return it == map.windows.end() ? nullptr : it->second;
}

CWnd* PASCAL CWnd::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    if (CWnd* wnd = FromHandlePermanent(hwnd)) return wnd;
    auto& slot = t_tempWindows[hwnd];
    if (!slot) {
        slot.reset(new CWnd);
        slot->m_hWnd = hwnd;
    }
    return slot.get();
}

void AfxDeleteTempMaps() {
    t_tempWindows.clear();
    AfxDeleteTempDCs();
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCTSTR className, LPCTSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU idOrMenu, LPVOID param) {
    if (m_hWnd) return FALSE;
    platform::internal::SetCreateWindowHook(&HookCreatedWindow, this);
    HWND hwnd = ::CreateWindowExA(exStyle, className, windowName, style, x, y, width, height,
                                  parent, idOrMenu, nullptr, param);
    platform::internal::SetCreateWindowHook(nullptr, nullptr);
    if (!hwnd) {
        // A window that failed during creation is gone; so is the attachment.
        if (m_hWnd) Detach();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::Create(LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect,
                  CWnd* parent, UINT id, void* context) {
    return CreateEx(0, className, windowName, style | WS_CHILD, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top,
                    parent ? parent->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), context);
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    HWND hwnd = m_hWnd;
    BOOL result = ::DestroyWindow(hwnd);
    // A window whose messages never came through AfxWndProc is detached here.
    if (result && m_hWnd == hwnd && IsAttached(hwnd, this)) Detach();
    return result;
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::GetDlgItem(int id) const {
    return FromHandle(::GetDlgItem(m_hWnd, id));
}

void CWnd::ScreenToClient(LPRECT rect) const {
    ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(rect));
    ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(rect) + 1);
}

void CWnd::ClientToScreen(LPRECT rect) const {
    ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(rect));
    ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(rect) + 1);
}

void CWnd::GetWindowText(CString& text) const {
    int length = ::GetWindowTextLengthA(m_hWnd);
    ::GetWindowTextA(m_hWnd, text.GetBufferSetLength(length), length + 1);
    text.ReleaseBuffer();
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
    MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

CDC* CWnd::GetDC() {
    HDC hdc = ::GetDC(m_hWnd);
    return hdc ? CDC::FromHandle(hdc) : nullptr;
}

int CWnd::ReleaseDC(CDC* dc) {
    if (!dc) return 0;
    HDC hdc = dc->m_hDC;
    int result = ::ReleaseDC(m_hWnd, hdc);
    AfxForgetTempDC(hdc);
    return result;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse,
                        void(CALLBACK* proc)(HWND, UINT, UINT_PTR, DWORD)) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
}

LRESULT CWnd::Default() {
    return DefWindowProc(t_lastSent.message, t_lastSent.wParam, t_lastSent.lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) {
        result = DefWindowProc(message, wParam, lParam);
    }
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

void CWnd::PostNcDestroy() {}

void CWnd::OnPaint() {
    Default();
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}
void CWnd::OnClose() {
    Default();
}

void CWnd::OnNcDestroy() {
    Default();
    Detach();
    m_pfnSuper = nullptr;
    PostNcDestroy();  // may delete this
}

LRESULT AfxCallWndProc(CWnd* wnd, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG previous = t_lastSent;
    t_lastSent.hwnd = hwnd;
    t_lastSent.message = message;
    t_lastSent.wParam = wParam;
    t_lastSent.lParam = lParam;
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    // Whatever the handlers did, the object lets go of a window that is gone.
    if (message == WM_NCDESTROY && CWnd::FromHandlePermanent(hwnd) == wnd) {
        wnd->Detach();
        wnd->m_pfnSuper = nullptr;
        wnd->PostNcDestroy();
    }
    t_lastSent = previous;
    return result;
}

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
    if (!wnd) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    return AfxCallWndProc(wnd, hwnd, message, wParam, lParam);
}
