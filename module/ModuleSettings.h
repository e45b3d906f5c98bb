// What the module start-up and the housekeeping read and write besides the store's tree (which
// the store map names): where the install path comes from, the two messages, and the settings
// file's entry.
#pragma once

#include "windef.h"

namespace module_settings {

// The install path: value "Path" of HKEY_CURRENT_USER\Software\szDomain\Share, read into a
// buffer of this many bytes, terminator included.
constexpr char kShareKey[] = "Software\\szDomain\\Share";
constexpr char kInstallPathValue[] = "Path";
constexpr DWORD kInstallPathBufferSize = 512;

// The only messages the module ever shows.
constexpr char kOpenKeyFailedMessage[] =
    "Open Reg Key Fail!\nHKEY_CURRENT_USER\\Software\\szDomain\\Share";
constexpr char kReadValueFailedMessage[] =
    "Read Reg Key Fail!\nHKEY_CURRENT_USER\\Software\\szDomain\\Share\\Path";

// The date of the last sweep in the settings file.
constexpr char kConfigSection[] = "SYSTEM";
constexpr char kLastSweepKey[] = "LASTDELETETIME";
constexpr DWORD kLastSweepBufferSize = 80;
constexpr char kLastSweepFormat[] = "%Y/%m/%d %H:%M:%S";

// Files older than this many whole days (either way) are swept, and a sweep is due when the
// last one lies further away than that.
constexpr long kRetentionDays = 10;

}  // namespace module_settings
