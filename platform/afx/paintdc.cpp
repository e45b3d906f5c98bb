// CDC and the DCs that wrap BeginPaint/EndPaint and GetDC/ReleaseDC.
#include <memory>
#include <unordered_map>

#include "afxwin.h"
#include "afx/wnd_temp_maps.h"

namespace {

struct TempDCDeleter {
    void operator()(CDC* dc) const {
        dc->m_hDC = nullptr;  // the handle is not ours to delete
        delete dc;
    }
};
thread_local std::unordered_map<HDC, std::unique_ptr<CDC, TempDCDeleter>> t_tempDCs;

}  // namespace

void AfxDeleteTempDCs() {
    t_tempDCs.clear();
}
void AfxForgetTempDC(HDC hdc) {
    t_tempDCs.erase(hdc);
}

CDC::~CDC() {
    if (m_hDC) ::DeleteDC(m_hDC);
}

BOOL CDC::Attach(HDC hdc) {
    if (!hdc || m_hDC) return FALSE;
    m_hDC = hdc;
    return TRUE;
}

HDC CDC::Detach() {
    HDC hdc = m_hDC;
    m_hDC = nullptr;
    return hdc;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC) return FALSE;
    return ::DeleteDC(Detach());
}

CDC* PASCAL CDC::FromHandle(HDC hdc) {
    if (!hdc) return nullptr;
    auto& slot = t_tempDCs[hdc];
    if (!slot) {
        slot.reset(new CDC);
        slot->m_hDC = hdc;
    }
    return slot.get();
}

BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* src, int xSrc, int ySrc, DWORD rop) {
    return ::BitBlt(m_hDC, x, y, width, height, src ? src->m_hDC : nullptr, xSrc, ySrc, rop);
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr), m_ps{} {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
    m_hDC = nullptr;
}

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) {
    m_hDC = ::GetDC(m_hWnd);
}

CClientDC::~CClientDC() {
    if (m_hDC) ::ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}
