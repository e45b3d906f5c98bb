// MFC: extension-module registration.
// (Being written: user.)
#pragma once
#include "windef.h"
