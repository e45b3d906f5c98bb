// C runtime thread start: _beginthreadex.
// (Being written: kernel.)
#pragma once
#include "windef.h"
