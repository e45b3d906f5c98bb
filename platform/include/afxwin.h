// MFC: CWnd, CStatic, CPaintDC, message maps.
// (Being written: user.)
#pragma once
#include "windef.h"
#include "afx.h"
#include "afxmsgbox.h"
