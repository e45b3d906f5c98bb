// What libportrix exports of CAvatarDownload besides CPortrix: the class's implicit copy
// constructor and assignment. Both are inline, so they exist only where something uses them;
// this file makes the library emit them, with the class's default visibility, once.
#include <new>

#include "AvatarDownload.h"

namespace {

// Kept at -O0 so the copy is a real call to the emitted constructor, not inlined away.
[[gnu::used, gnu::noinline, gnu::optimize("O0")]] void EmitDownloadCopy(CAvatarDownload* to,
                                                                        const CAvatarDownload& from) {
    new (to) CAvatarDownload(from);
}

[[gnu::used]] CAvatarDownload& (CAvatarDownload::*const downloadAssignment)(const CAvatarDownload&) =
    &CAvatarDownload::operator=;

}  // namespace
