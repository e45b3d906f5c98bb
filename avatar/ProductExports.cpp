// What libportrix exports of CAvatarDownload besides CPortrix: the class's implicit copy
// constructor and assignment. Both are inline, so they exist only where something uses them;
// this file makes the library emit them, with the class's default visibility, once.
#include <new>

#include "AvatarDownload.h"

// Kept unoptimised so the copy is a real call to the emitted constructor, not inlined away.
#if defined(__clang__)
#define PORTRIX_UNOPTIMISED [[clang::optnone]]
#else
#define PORTRIX_UNOPTIMISED [[gnu::optimize("O0")]]
#endif

namespace {

PORTRIX_UNOPTIMISED [[gnu::used, gnu::noinline]] void EmitDownloadCopy(
    CAvatarDownload* to, const CAvatarDownload& from) {
    new (to) CAvatarDownload(from);
}

[[gnu::used]] CAvatarDownload& (CAvatarDownload::*const downloadAssignment)(
    const CAvatarDownload&) = &CAvatarDownload::operator=;

}  // namespace
