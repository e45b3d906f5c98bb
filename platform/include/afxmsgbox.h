// MFC: AfxMessageBox.
// (Being written: kernel.)
#pragma once
#include "windef.h"
