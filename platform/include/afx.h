// MFC core: CException, CFileException, CFile, CFileStatus, CFileFind.
// (Being written: files.)
#pragma once
#include "windef.h"
#include "windows.h"
#include "afxstr.h"
#include "afxtime.h"
