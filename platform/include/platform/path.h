// Mapping of Windows paths (backslashes, any letter case) to POSIX paths.
// (Being written: files.)
#pragma once
#include "windef.h"
