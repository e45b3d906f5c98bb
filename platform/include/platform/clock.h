// The one clock behind every time the layer reports; tests can move it.
// (Being written: kernel.)
#pragma once
#include "windef.h"
