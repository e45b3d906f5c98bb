// Win32 registry: the current user's hive.
// (Being written: files.)
#pragma once
#include "windef.h"
