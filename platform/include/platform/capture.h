// Reading back a top-level window's pixels and saving them as PNG.
// (Being written: gdi.)
#pragma once
#include "windef.h"
