// CPortrix: construction, properties, background hand-over, clearing, the drawing steps that
// every display path uses, and mouse forwarding.
#include "Portrix.h"

#include "StorePaths.h"
#include "StoreRoot.h"

namespace {

void ForwardMouseMessage(IMouseEventHook* receiver, UINT message, UINT flags, long point) {
    // The packed point is the 32-bit lParam of the original platform; its upper half here
    // carries nothing.
    if (receiver != nullptr) receiver->OnMouseEvent(message, flags, static_cast<LONG>(point));
}

}  // namespace

// ---- Construction --------------------------------------------------------------------------

CPortrix::CPortrix()
    : backgroundPending(1),
      faceMode(0),
      imageType(1),
      imageSN(0),
      pollCount(0),
      eraseOnRedraw(0),
      sex(0),
      mouseHook(nullptr),
      pictureWasStored(FALSE),
      storedPictureWritten{},
      storedPictureCreated{},
      storedPictureLength(0) {}

// The timers end with the window, and the download service stops itself in its destructor.
CPortrix::~CPortrix() {}

// ---- Properties ----------------------------------------------------------------------------

void CPortrix::SetUserID(const CString& id) {
    userId = id;
}

void CPortrix::SetImageType(const int& type) {
    imageType = type;
    const CString& storeRoot = GetStoreRoot();
    if (storeRoot.IsEmpty()) return;
    defaultPath = BuildDefaultPicturePath(storeRoot, imageType, sex);
    DefaultAvatarDraw();
}

void CPortrix::SetFaceMode(const int& mode) {
    faceMode = mode;
}

void CPortrix::SetImageSN(const int& version) {
    imageSN = version;
}

void CPortrix::SetSex(int s) {
    sex = s;
}

void CPortrix::SetServerAddress(const CString& address) {
    serverAddress.Format("%s", static_cast<LPCTSTR>(address));
}

// ---- Background and clearing ---------------------------------------------------------------

void CPortrix::ChangeBgImg(HDC background, const int& flag) {
    if (background == nullptr || backgroundPending == 0) return;
    eraseOnRedraw = flag;
    ApplyBackground(background, &backgroundPending, flag);
}

void CPortrix::ChangeBgEvent() {
    if (backgroundPending == 0) backgroundPending = 1;
}

void CPortrix::SetControlClear() {
    ChangeUnload();
    RECT area;
    GetWindowRect(&area);
    CWnd* parent = GetParent();
    if (parent == nullptr) return;
    parent->ScreenToClient(&area);
    parent->InvalidateRect(&area, TRUE);
}

void CPortrix::SetCloseAvatar() {
    UnloadPicture();
}

int CPortrix::AttachMouseEventHook(IMouseEventHook* receiver) {
    mouseHook = receiver;
    return 1;
}

// ---- Drawing steps -------------------------------------------------------------------------

void CPortrix::ChangeUnload() {
    UnloadPicture();
    ChangeBgEvent();
    RECT area;
    GetWindowRect(&area);
    CWnd* parent = GetParent();
    if (parent == nullptr) return;
    parent->ScreenToClient(&area);
    parent->InvalidateRect(&area, eraseOnRedraw != 0 ? TRUE : FALSE);
}

void CPortrix::ControlDraw() {
    StartDisplay();
    // Hiding and showing makes the parent repaint under the control before the control paints.
    ShowWindow(SW_HIDE);
    ShowWindow(SW_SHOW);
}

void CPortrix::DefaultAvatarDraw() {
    ChangeUnload();
    backgroundPending = 1;
    if (LoadFile(defaultPath))
        ControlDraw();
    else
        RequestDefaultPictures(defaultPath);
}

// ---- Message map ---------------------------------------------------------------------------

BEGIN_MESSAGE_MAP(CPortrix, CAnimatedPicture)
ON_WM_TIMER()
ON_MESSAGE_RAW(WM_LBUTTONDOWN, OnLButtonDown)
ON_MESSAGE_RAW(WM_RBUTTONDOWN, OnRButtonDown)
ON_MESSAGE_RAW(WM_LBUTTONUP, OnLButtonUp)
ON_MESSAGE_RAW(WM_RBUTTONUP, OnRButtonUp)
ON_MESSAGE_RAW(WM_LBUTTONDBLCLK, OnLButtonDblclk)
ON_MESSAGE_RAW(WM_RBUTTONDBLCLK, OnRButtonDblclk)
ON_MESSAGE_RAW(WM_MOUSEMOVE, OnMouseMove)
END_MESSAGE_MAP()

// ---- Mouse forwarding ----------------------------------------------------------------------
// Every mouse message goes to the host's receiver, if any, and no further: not to the default
// window procedure, not to the base class.

void CPortrix::OnMouseMove(UINT flags, long point) {
    ForwardMouseMessage(mouseHook, WM_MOUSEMOVE, flags, point);
}

void CPortrix::OnLButtonDown(UINT flags, long point) {
    ForwardMouseMessage(mouseHook, WM_LBUTTONDOWN, flags, point);
}

void CPortrix::OnRButtonDown(UINT flags, long point) {
    ForwardMouseMessage(mouseHook, WM_RBUTTONDOWN, flags, point);
}

void CPortrix::OnLButtonUp(UINT flags, long point) {
    ForwardMouseMessage(mouseHook, WM_LBUTTONUP, flags, point);
}

void CPortrix::OnRButtonUp(UINT flags, long point) {
    ForwardMouseMessage(mouseHook, WM_RBUTTONUP, flags, point);
}

void CPortrix::OnLButtonDblclk(UINT flags, long point) {
    ForwardMouseMessage(mouseHook, WM_LBUTTONDBLCLK, flags, point);
}

void CPortrix::OnRButtonDblclk(UINT flags, long point) {
    ForwardMouseMessage(mouseHook, WM_RBUTTONDBLCLK, flags, point);
}
