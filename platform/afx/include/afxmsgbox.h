// MFC: AfxMessageBox, with the message-box styles and results of USER.
// The text goes to the layer's message-box sink (platform/msgbox.h).
#pragma once
#include "afxsys.h"
#include "winuser.h"  // the MB_* styles and ID* results

int AfxMessageBox(LPCTSTR text, UINT type = MB_OK, UINT helpId = 0);
