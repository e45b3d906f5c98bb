// The avatar store root: the install path followed by "\Avatar\", or empty when there is no
// store. It is set once while the module attaches; every other part of the library only reads it.
#pragma once

#include "afxstr.h"

const CString& GetStoreRoot();
