// Where AfxMessageBox sends its text; tests install a recording sink.
// (Being written: kernel.)
#pragma once
#include "windef.h"
