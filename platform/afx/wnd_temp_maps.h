// The calling thread's temporary CDC objects (CDC::FromHandle), shared by CWnd and CDC.
// Private to platform/afx.
#pragma once

#include "windef.h"

void AfxDeleteTempDCs();
void AfxForgetTempDC(HDC hdc);
