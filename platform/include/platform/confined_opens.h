// Folders whose files are opened without following symbolic links.
//
// A folder that other programs write into (a store that a download service fills) may hold a
// link put where a file is expected, to make this process read, truncate or write a file
// elsewhere. Once a folder is confined, every open that the file calls of this layer (CFile,
// the profile calls) make of a path below it resolves beneath it and follows no link, neither
// on the way nor at the end: such an open fails with ERROR_ACCESS_DENIED, as for an entry that
// is no regular file. Paths to the folder itself may go through links. An extension of this
// layer; the original platform gets the same from a handle opened with
// FILE_FLAG_OPEN_REPARSE_POINT at each step.
#pragma once
#include "windef.h"

namespace platform {

// Confines the folder at path (a Windows path, resolved as every file call resolves it), for
// the rest of the process.
void ConfineOpensBelow(LPCSTR path);

}  // namespace platform
