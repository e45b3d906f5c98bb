// MFC: CTime and CTimeSpan.
// (Being written: kernel.)
#pragma once
#include "windef.h"
