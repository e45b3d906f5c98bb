// The temporary files that whole-file writes leave behind when they are cut short.
//
// The profile calls and the registry write a file whole into a temporary file beside it
// ("config.ini.XXXXXX", "hkcu.reg.XXXXXX") that then replaces it by rename. A write killed in
// between leaves its temporary file, which nothing else would ever remove. A program cleans up
// after its earlier runs at start-up with this call.
#pragma once
#include "windef.h"

namespace platform {

// A temporary file untouched for this long belongs to a write that was cut short.
constexpr long kStaleWriteSeconds = 5 * 60;

// Removes the temporary files of writes of the file at path (a Windows path, as the file calls
// take it) that are stale: last written more than kStaleWriteSeconds ago and not held by a
// writer (every writer holds a flock() on its temporary file while it writes; the rename
// follows its last write at once). Returns how many went.
int RemoveStaleWriteTemporaries(LPCSTR path);

}  // namespace platform
