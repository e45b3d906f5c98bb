// Pumping the calling thread's messages until a condition holds or time runs out.
// (Being written: user.)
#pragma once
#include "windef.h"
