// The file behind the registry's current-user hive, for the library and for the portrix-reg
// tool alike: where it is and, when the registry calls fail on it, why, in words.
#pragma once
#include <cstddef>
#include <string>

namespace platform {

// A hive file larger than this is refused (ERROR_FILE_TOO_LARGE), and a write that would make
// it larger fails the same way, so that reading it can never stall a program's start.
constexpr size_t kMaxRegistryHiveBytes = size_t(16) << 20;

// $PORTRIX_HKCU when set and not empty, else $XDG_CONFIG_HOME/portrix/hkcu.reg, else
// ~/.config/portrix/hkcu.reg, the home directory being $HOME or, when that is unset or empty,
// the user database's entry for the process's user.
std::string RegistryHivePath();

// What stops the hive from being read right now, as a sentence naming the file ("... is not a
// registry hive: ..."), or "" when it can be read. A missing file reads as an empty hive.
std::string RegistryHiveProblem();

}  // namespace platform
