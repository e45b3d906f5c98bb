// Names and limits of the avatar store that the module start-up and the housekeeping own:
// where the install path comes from, the store's directories and the sweep's settings file.
#pragma once

#include "windef.h"

namespace store_layout {

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

// The store root is the install path followed by this; it always ends in a backslash.
constexpr char kStoreRootSuffix[] = "\\Avatar\\";

// Directories below the store root, in the order they are created.
constexpr const char* kStoreDirectories[] = {"Body", "Up", "Face", "Default", "SNS"};

// The settings file of the housekeeping, in the store root.
constexpr char kConfigFileName[] = "config.ini";
constexpr char kConfigSection[] = "SYSTEM";
constexpr char kLastSweepKey[] = "LASTDELETETIME";
constexpr DWORD kLastSweepBufferSize = 80;
constexpr char kLastSweepFormat[] = "%Y/%m/%d %H:%M:%S";

// Files older than this many whole days (either way) are swept, and a sweep is due when the
// last one lies further away than that.
constexpr long kRetentionDays = 10;

// What the sweep looks at, in sweep order: the directory below the store root and the names.
struct SweptDirectory {
    const char* directory;
    const char* pattern;
};
constexpr SweptDirectory kSweptDirectories[] = {
    {"Body", "*.gif"},
    {"Face", "*.gif"},
    {"Up", "*.gif"},
    {"SNS", "*.txt"},
};

}  // namespace store_layout
