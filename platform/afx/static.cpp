// CStatic: a CWnd over the predefined "STATIC" class.
#include "afxwin.h"
#ifdef _WIN32
#include <commctrl.h>  // WC_STATIC
#endif

BOOL CStatic::Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CWnd::Create(WC_STATIC, text, style, rect, parent, id);
}
