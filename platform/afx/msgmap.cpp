// Message-map dispatch: CCmdTarget's root map and CWnd::OnWndMsg.
#include "afxwin.h"

const AFX_MSGMAP_ENTRY CCmdTarget::_messageEntries[] = {{0, 0, 0, 0, AfxSig_end, nullptr}};
const AFX_MSGMAP CCmdTarget::messageMap = {&CCmdTarget::_GetBaseMessageMap,
                                           &CCmdTarget::_messageEntries[0]};
const AFX_MSGMAP* PASCAL CCmdTarget::_GetBaseMessageMap() {
    return nullptr;
}
const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return &CCmdTarget::messageMap;
}

namespace {

const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* map, UINT message) {
    for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry && entry->nSig != AfxSig_end;
             ++entry) {
            if (entry->nMessage == message && entry->nCode == 0 && entry->nID == 0) return entry;
        }
    }
    return nullptr;
}

// Restores the handler's own type; AfxBindHandler made the opposite cast.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
template <class Fn>
Fn CCmdTarget::*Handler(AFX_PMSG pfn) {
    return reinterpret_cast<Fn CCmdTarget::*>(pfn);
}
#pragma GCC diagnostic pop

}  // namespace

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const AFX_MSGMAP_ENTRY* entry = FindEntry(GetMessageMap(), message);
    if (!entry) return FALSE;
    CCmdTarget* target = this;
    LRESULT value = 0;
    switch (entry->nSig) {
        case AfxSig_vv:
            (target->*Handler<void()>(entry->pfn))();
            break;
        case AfxSig_vw:
            (target->*Handler<void(UINT)>(entry->pfn))(static_cast<UINT>(wParam));
            break;
        case AfxSig_vW:
            (target->*Handler<void(UINT_PTR)>(entry->pfn))(static_cast<UINT_PTR>(wParam));
            break;
        case AfxSig_vwl:
            // The original passes both 32-bit parameters as they are; a packed point with a
            // negative y is a negative long there, so lParam is read as a signed 32-bit value.
            (target->*Handler<void(UINT, long)>(entry->pfn))(
                static_cast<UINT>(wParam), static_cast<long>(static_cast<LONG>(lParam)));
            break;
        case AfxSig_lwl:
            value = (target->*Handler<LRESULT(WPARAM, LPARAM)>(entry->pfn))(wParam, lParam);
            break;
        case AfxSig_vwp:
            (target->*Handler<void(UINT, CPoint)>(entry->pfn))(static_cast<UINT>(wParam),
                                                               CPoint(lParam));
            break;
        case AfxSig_is:
            value = (target->*Handler<int(LPCREATESTRUCT)>(entry->pfn))(
                reinterpret_cast<LPCREATESTRUCT>(lParam));
            break;
        case AfxSig_vwii:
            (target->*Handler<void(UINT, int, int)>(entry->pfn))(static_cast<UINT>(wParam),
                                                                 LOWORD(lParam), HIWORD(lParam));
            break;
        case AfxSig_bD: {
            // A wrapper for the length of the call: paint DCs are new handles every time, so
            // temporary objects kept per handle would pile up.
            CDC dc;
            dc.m_hDC = reinterpret_cast<HDC>(wParam);
            value = (target->*Handler<BOOL(CDC*)>(entry->pfn))(&dc);
            dc.m_hDC = nullptr;
            break;
        }
        case AfxSig_wp:
            value = (target->*Handler<UINT(CPoint)>(entry->pfn))(CPoint(lParam));
            break;
        case AfxSig_vbw:
            (target->*Handler<void(BOOL, UINT)>(entry->pfn))(static_cast<BOOL>(wParam),
                                                             static_cast<UINT>(lParam));
            break;
        default:
            return FALSE;
    }
    if (result) *result = value;
    return TRUE;
}
