// MFC: CObject, CCmdTarget, CWnd, CStatic, CDC, CPaintDC, CClientDC, CPoint, CRect, and
// message maps built as MFC 4.2 builds them.
//
// Message maps. DECLARE_MESSAGE_MAP() in a class declares _messageEntries, messageMap,
// _GetBaseMessageMap and the virtual GetMessageMap; BEGIN_MESSAGE_MAP(theClass, baseClass) ...
// END_MESSAGE_MAP() in the source file defines them. Dispatch (CWnd::OnWndMsg) walks from the
// object's own map through the base maps; the first entry whose message matches is called, and
// a message that no map handles goes to DefWindowProc (the original window procedure of a
// subclassed window, else ::DefWindowProc). A handler returning void gives the message the
// result 0.
//
// Handlers are stored as AFX_PMSG (a pointer to a member of CCmdTarget taking nothing) and cast
// back to their signature when called, as MFC does. ON_MESSAGE_RAW(message, memberFxn) binds a
// handler `void memberFxn(UINT wParam, long lParam)` that receives the message's two parameters
// unconverted, as the original 32-bit platform passes them (lParam is read as a signed 32-bit
// value and widened with its sign).
//
// Handle maps. A CWnd attached to a window (Attach, SubclassWindow, Create) is in the permanent
// map of the process. CWnd::FromHandle of a window without one gives a temporary CWnd object kept
// for the calling thread, one per window, reused on the next call for the same window and freed
// by AfxDeleteTempMaps() or when the thread ends; never delete it.
#pragma once
#include "afxsys.h"
#include "windows.h"
#include "afx.h"
#include "afxmsgbox.h"

#ifndef PASCAL
#define PASCAL
#endif
#define afx_msg
#define AFX_MSG_CALL

// ---- CObject and run-time class information --------------------------------------------------
#ifndef AFX_COBJECT_DEFINED
#define AFX_COBJECT_DEFINED
class CObject;

struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject*(PASCAL* m_pfnCreateObject)();
    CRuntimeClass* m_pBaseClass;
    CRuntimeClass* m_pNextClass;  // the module state's list of classes
};

class CObject {
public:
    virtual ~CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

protected:
    CObject() = default;
};
#endif

// ---- Small value types -----------------------------------------------------------------------
class CPoint : public tagPOINT {
public:
    CPoint() : tagPOINT{0, 0} {}
    CPoint(int x0, int y0) : tagPOINT{x0, y0} {}
    CPoint(POINT point) : tagPOINT(point) {}  // NOLINT: implicit, as in MFC
    // From a packed message point: x in the low 16 bits, y in the high 16, both signed.
    explicit CPoint(LPARAM packed) : tagPOINT{GET_X_LPARAM(packed), GET_Y_LPARAM(packed)} {}
    operator LPPOINT() { return this; }  // NOLINT
};

class CRect : public tagRECT {
public:
    CRect() : tagRECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : tagRECT{l, t, r, b} {}
    CRect(const RECT& rect) : tagRECT(rect) {}  // NOLINT: implicit, as in MFC
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CPoint& TopLeft() { return *reinterpret_cast<CPoint*>(this); }
    CPoint& BottomRight() { return *(reinterpret_cast<CPoint*>(this) + 1); }
    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
    BOOL PtInRect(POINT point) const {
        return point.x >= left && point.x < right && point.y >= top && point.y < bottom;
    }
    void OffsetRect(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    BOOL operator==(const RECT& other) const {
        return left == other.left && top == other.top && right == other.right &&
               bottom == other.bottom;
    }
    BOOL operator!=(const RECT& other) const { return !(*this == other); }
    operator LPRECT() { return this; }         // NOLINT
    operator LPCRECT() const { return this; }  // NOLINT
};

// ---- Message maps ----------------------------------------------------------------------------
class CCmdTarget;
class CWnd;
class CDC;
typedef void (CCmdTarget::*AFX_PMSG)(void);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // window message
    UINT nCode;     // control code or WM_NOTIFY code (0 for window messages)
    UINT nID;       // control id (0 for window messages)
    UINT nLastID;   // last control id of a range
    UINT_PTR nSig;  // handler signature (AfxSig)
    AFX_PMSG pfn;   // handler
};

struct AFX_MSGMAP {
    const AFX_MSGMAP*(PASCAL* pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Handler signatures: how OnWndMsg unpacks the message for the handler.
enum AfxSig {
    AfxSig_end = 0,  // end of the entries
    AfxSig_vv,       // void (void)
    AfxSig_vw,       // void (UINT): wParam
    AfxSig_vW,       // void (UINT_PTR): wParam
    AfxSig_vwl,      // void (UINT, long): wParam and lParam unconverted (ON_MESSAGE_RAW)
    AfxSig_lwl,      // LRESULT (WPARAM, LPARAM) (ON_MESSAGE)
    AfxSig_vwp,      // void (UINT, CPoint): key flags and the packed client point
    AfxSig_is,       // int (LPCREATESTRUCT): -1 fails the creation
    AfxSig_vwii,     // void (UINT, int, int): WM_SIZE
    AfxSig_bD,       // BOOL (CDC*): WM_ERASEBKGND
    AfxSig_wp,       // UINT (CPoint): WM_NCHITTEST, screen point
    AfxSig_vbw,      // void (BOOL, UINT): WM_SHOWWINDOW
};

// The class whose map is being defined: DECLARE_MESSAGE_MAP gives every class a nested tag
// type, and BEGIN_MESSAGE_MAP defines the tag with a typedef of its class. The entries of a map
// are the initialiser of a static member, where names are looked up in the class, so the ON_
// macros find the class's own tag and through it the class's own handlers.
template <class F, class C>
using AfxMemberFn = F C::*;

// The handler's own type is restored by OnWndMsg before the call, so the cast is a round trip.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
template <class Fn, class C>
inline AFX_PMSG AfxBindHandler(Fn C::*pfn) {
    return reinterpret_cast<AFX_PMSG>(static_cast<Fn CCmdTarget::*>(pfn));
}
#pragma GCC diagnostic pop
// OnTimer is declared with UINT by MFC 4.2 code and with UINT_PTR by later code: bind both.
template <class C>
inline AFX_MSGMAP_ENTRY AfxTimerEntry(void (C::*pfn)(UINT)) {
    return {WM_TIMER, 0, 0, 0, AfxSig_vw, AfxBindHandler(pfn)};
}
// On 32-bit Windows UINT_PTR is UINT, and the one overload above serves both.
#if !defined(_WIN32) || defined(_WIN64)
template <class C>
inline AFX_MSGMAP_ENTRY AfxTimerEntry(void (C::*pfn)(UINT_PTR)) {
    return {WM_TIMER, 0, 0, 0, AfxSig_vW, AfxBindHandler(pfn)};
}
#endif

#define DECLARE_MESSAGE_MAP()                             \
private:                                                  \
    struct _AfxMapTag;                                    \
    static const AFX_MSGMAP_ENTRY _messageEntries[];      \
                                                          \
protected:                                                \
    static const AFX_MSGMAP messageMap;                   \
    static const AFX_MSGMAP* PASCAL _GetBaseMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                               \
    struct theClass::_AfxMapTag {                                            \
        typedef theClass type;                                               \
    };                                                                       \
    const AFX_MSGMAP* PASCAL theClass::_GetBaseMessageMap() {                \
        return &baseClass::messageMap;                                       \
    }                                                                        \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                      \
        return &theClass::messageMap;                                        \
    }                                                                        \
    const AFX_MSGMAP theClass::messageMap = {&theClass::_GetBaseMessageMap,  \
                                             &theClass::_messageEntries[0]}; \
    const AFX_MSGMAP_ENTRY theClass::_messageEntries[] = {
#define END_MESSAGE_MAP()                   \
    { 0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0 } \
    }                                       \
    ;

// Inside a map's entries, the class whose map it is.
#define AFX_THIS_CLASS _AfxMapTag::type

#define AFX_MSG_ENTRY(message, sig, memberFxn, fnType) \
    {message,                                          \
     0,                                                \
     0,                                                \
     0,                                                \
     sig,                                              \
     AfxBindHandler(                                   \
         static_cast<AfxMemberFn<fnType, AFX_THIS_CLASS>>(&AFX_THIS_CLASS::memberFxn))},

#define ON_WM_CREATE() AFX_MSG_ENTRY(WM_CREATE, AfxSig_is, OnCreate, int(LPCREATESTRUCT))
#define ON_WM_DESTROY() AFX_MSG_ENTRY(WM_DESTROY, AfxSig_vv, OnDestroy, void())
#define ON_WM_NCDESTROY() AFX_MSG_ENTRY(WM_NCDESTROY, AfxSig_vv, OnNcDestroy, void())
#define ON_WM_PAINT() AFX_MSG_ENTRY(WM_PAINT, AfxSig_vv, OnPaint, void())
#define ON_WM_CLOSE() AFX_MSG_ENTRY(WM_CLOSE, AfxSig_vv, OnClose, void())
#define ON_WM_ERASEBKGND() AFX_MSG_ENTRY(WM_ERASEBKGND, AfxSig_bD, OnEraseBkgnd, BOOL(CDC*))
#define ON_WM_SIZE() AFX_MSG_ENTRY(WM_SIZE, AfxSig_vwii, OnSize, void(UINT, int, int))
#define ON_WM_SHOWWINDOW() AFX_MSG_ENTRY(WM_SHOWWINDOW, AfxSig_vbw, OnShowWindow, void(BOOL, UINT))
#define ON_WM_NCHITTEST() AFX_MSG_ENTRY(WM_NCHITTEST, AfxSig_wp, OnNcHitTest, UINT(CPoint))
#define ON_WM_TIMER() AfxTimerEntry(&AFX_THIS_CLASS::OnTimer),
#define ON_WM_MOUSEMOVE() AFX_MSG_ENTRY(WM_MOUSEMOVE, AfxSig_vwp, OnMouseMove, void(UINT, CPoint))
#define ON_WM_LBUTTONDOWN() \
    AFX_MSG_ENTRY(WM_LBUTTONDOWN, AfxSig_vwp, OnLButtonDown, void(UINT, CPoint))
#define ON_WM_LBUTTONUP() AFX_MSG_ENTRY(WM_LBUTTONUP, AfxSig_vwp, OnLButtonUp, void(UINT, CPoint))
#define ON_WM_LBUTTONDBLCLK() \
    AFX_MSG_ENTRY(WM_LBUTTONDBLCLK, AfxSig_vwp, OnLButtonDblClk, void(UINT, CPoint))
#define ON_WM_RBUTTONDOWN() \
    AFX_MSG_ENTRY(WM_RBUTTONDOWN, AfxSig_vwp, OnRButtonDown, void(UINT, CPoint))
#define ON_WM_RBUTTONUP() AFX_MSG_ENTRY(WM_RBUTTONUP, AfxSig_vwp, OnRButtonUp, void(UINT, CPoint))
#define ON_WM_RBUTTONDBLCLK() \
    AFX_MSG_ENTRY(WM_RBUTTONDBLCLK, AfxSig_vwp, OnRButtonDblClk, void(UINT, CPoint))
// LRESULT memberFxn(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn) \
    AFX_MSG_ENTRY(message, AfxSig_lwl, memberFxn, LRESULT(WPARAM, LPARAM))
// void memberFxn(UINT wParam, long lParam), both unconverted.
#define ON_MESSAGE_RAW(message, memberFxn) \
    AFX_MSG_ENTRY(message, AfxSig_vwl, memberFxn, void(UINT, long))

// ---- CCmdTarget ------------------------------------------------------------------------------
class CCmdTarget : public CObject {
public:
    CCmdTarget() = default;

protected:
    static const AFX_MSGMAP messageMap;
    static const AFX_MSGMAP* PASCAL _GetBaseMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

private:
    static const AFX_MSGMAP_ENTRY _messageEntries[];
};

// ---- Device contexts -------------------------------------------------------------------------
class CDC : public CObject {
public:
    CDC() = default;
    ~CDC() override;  // deletes an attached DC, as CDC::DeleteDC would

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }  // NOLINT: implicit, as in MFC
    BOOL Attach(HDC hdc);
    HDC Detach();
    BOOL DeleteDC();
    // A temporary CDC for the calling thread wrapping hdc (see the temporary maps above).
    static CDC* PASCAL FromHandle(HDC hdc);

    BOOL BitBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, DWORD rop);
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    COLORREF SetPixel(int x, int y, COLORREF color) { return ::SetPixel(m_hDC, x, y, color); }

    HDC m_hDC = nullptr;
};

// BeginPaint in the constructor, EndPaint in the destructor.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;

    HWND m_hWnd;
    PAINTSTRUCT m_ps;
};

// GetDC in the constructor, ReleaseDC in the destructor.
class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;

    HWND m_hWnd;
};

// ---- CWnd ------------------------------------------------------------------------------------
class CWnd : public CCmdTarget {
public:
    // Data
    HWND m_hWnd = nullptr;

    // Construction and attachment
    CWnd() = default;
    ~CWnd() override;  // destroys a window that is still attached
    BOOL Attach(HWND hwnd);
    HWND Detach();
    // Routes the window's messages through this object: its window procedure becomes
    // AfxWndProc, and the one it had is called by Default()/DefWindowProc.
    BOOL SubclassWindow(HWND hwnd);
    HWND UnsubclassWindow();
    // SubclassWindow for the child of parent with the given control id.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    static CWnd* PASCAL FromHandle(HWND hwnd);
    static CWnd* PASCAL FromHandlePermanent(HWND hwnd);
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }  // NOLINT: implicit, as in MFC

    virtual BOOL CreateEx(DWORD exStyle, LPCTSTR className, LPCTSTR windowName, DWORD style, int x,
                          int y, int width, int height, HWND parent, HMENU idOrMenu,
                          LPVOID param = nullptr);
    virtual BOOL Create(LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect,
                        CWnd* parent, UINT id, void* context = nullptr);
    virtual BOOL DestroyWindow();

    // Attributes and geometry
    CWnd* GetParent() const;
    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE)); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    void GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    void ScreenToClient(LPPOINT point) const { ::ScreenToClient(m_hWnd, point); }
    void ScreenToClient(LPRECT rect) const;
    void ClientToScreen(LPPOINT point) const { ::ClientToScreen(m_hWnd, point); }
    void ClientToScreen(LPRECT rect) const;
    void SetWindowText(LPCTSTR text) { ::SetWindowTextA(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    BOOL ShowWindow(int cmdShow) { return ::ShowWindow(m_hWnd, cmdShow); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }

    // Painting
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, rect, erase); }
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void ValidateRect(LPCRECT rect) { ::ValidateRect(m_hWnd, rect); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    // A temporary CDC over the window's client area; give it back with ReleaseDC.
    CDC* GetDC();
    int ReleaseDC(CDC* dc);

    // Timers and messages
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, void(CALLBACK* proc)(HWND, UINT, UINT_PTR, DWORD));
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }

    // Default processing of the message being handled.
    LRESULT Default();

    // Overridables
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (WM_NCDESTROY); a heap-allocated window may delete itself.
    virtual void PostNcDestroy();

    // Message handlers with default processing
    afx_msg void OnPaint();
    afx_msg void OnDestroy();
    afx_msg void OnNcDestroy();
    afx_msg void OnTimer(UINT_PTR id);
    afx_msg void OnClose();

    // The original window procedure of a subclassed window.
    WNDPROC m_pfnSuper = nullptr;

    DECLARE_MESSAGE_MAP()
};

// MFC's window procedure for every window with a CWnd in the permanent map.
LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Calls pWnd->WindowProc with the message recorded for Default().
LRESULT AfxCallWndProc(CWnd* wnd, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Frees the calling thread's temporary CWnd and CDC objects.
void AfxDeleteTempMaps();

// ---- CStatic ---------------------------------------------------------------------------------
// Uses CWnd's message map as its own.
class CStatic : public CWnd {
public:
    CStatic() = default;
    using CWnd::Create;
    virtual BOOL Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent,
                        UINT id = 0xffff);
};
