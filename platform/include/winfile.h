// Win32 kernel: directories, file attributes, deletion, private-profile (INI) files.
// (Being written: files.)
#pragma once
#include "windef.h"
