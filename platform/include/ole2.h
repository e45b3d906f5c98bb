// OLE: IUnknown, IStream over global memory.
// (Being written: ole.)
#pragma once
#include "windef.h"
