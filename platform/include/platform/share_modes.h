// Joining a file opened outside the layer's file calls to their share-mode rule.
//
// CFile and the other file calls of the layer open files under the original platform's
// share-mode rule (see CFile in afx.h). A component that must open a file its own way, for
// instance relative to a directory descriptor and without following links, can still have
// that open count under the rule, in this process and in every other, as if CFile had made it.
#pragma once
#include "windef.h"

namespace platform {

// What the open does (GENERIC_READ / GENERIC_WRITE) ...
constexpr unsigned kShareAccessRead = 1;
constexpr unsigned kShareAccessWrite = 2;
// ... and what it lets later opens do (FILE_SHARE_READ / FILE_SHARE_WRITE).
constexpr unsigned kShareAllowRead = 1;
constexpr unsigned kShareAllowWrite = 2;

// Records fd, a descriptor of a regular file open for reading (O_RDONLY or O_RDWR), as an
// open with the given access and sharing. The record ends when fd is closed. FALSE, with the
// last error set and nothing recorded, when fd is no regular file (ERROR_INVALID_HANDLE), when
// write access is asked of a read-only file (ERROR_ACCESS_DENIED), or when the rule refuses
// the open (ERROR_SHARING_VIOLATION).
BOOL JoinShareModes(int fd, unsigned access, unsigned allowed);

}  // namespace platform
