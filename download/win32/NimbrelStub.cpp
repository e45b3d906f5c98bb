// A nimbrel.dll whose calls do nothing, for Windows builds made before the download library
// has a Windows side of its own: the control links and runs, and its downloads never arrive.
#include "AvatarDownload.h"

CAvatarDownload::CAvatarDownload() = default;
CAvatarDownload::~CAvatarDownload() = default;

void CAvatarDownload::StartDownload(const CString&, const CString&, const CString&, const int&,
                                    const int&) {}

void CAvatarDownload::VazirOridoStartGFU(const CString&, const CString&, const CString&, const int&,
                                         const int&) {}

void CAvatarDownload::VazirOridoStartN(const CString&, const CString&) {}
