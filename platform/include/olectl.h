// OLE controls: IPicture and OleLoadPicture.
// (Being written: ole.)
#pragma once
#include "windef.h"
#include "ole2.h"
