// MFC: COleDateTime and COleDateTimeSpan.
// (Being written: kernel.)
#pragma once
#include "windef.h"
