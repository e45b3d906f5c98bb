// Injecting mouse input at a screen point.
// (Being written: user.)
#pragma once
#include "windef.h"
