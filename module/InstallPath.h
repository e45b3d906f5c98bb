// The install path that the registry's Path value gives, and the diagnostic line that says why
// the attach sequence found none. The line goes to standard error beside the message box,
// whose text stays as it is, and names the hive file that was read.
#pragma once

#include <string>

#include "afxstr.h"
#include "windef.h"

// The install path in a Path value of this type and data (size bytes, read into the 512-byte
// buffer), or FALSE with *why when the value is empty, not a string (REG_SZ or REG_EXPAND_SZ),
// holds a NUL inside its text, has no room for its terminator, or does not name an absolute
// directory. A path that does not exist yet is accepted: the store is made there or not at all.
BOOL InstallPathFromValue(DWORD type, const BYTE* data, DWORD size, CString* installPath,
                          std::string* why);

// Writes "portrix: " and the sentence about the Share key or its Path value to standard error,
// with the hive file's name. result is what the registry call returned (ERROR_SUCCESS when the
// value was read but is not usable, with why saying how).
void ReportShareKeyFailure(long result);
void ReportPathValueFailure(long result, const std::string& why);
