// Mapping of Windows paths (backslashes, any letter case) to POSIX paths.
//
// Every file call of the layer goes through here, so a path means the same thing to all of
// them: '\' and '/' both separate, a doubled separator counts as one, and each component is
// taken as written when an entry of that exact name exists, otherwise as the entry of its
// directory whose name matches without regard to (ASCII) case; among several such entries the
// smallest in byte order wins. Components from the first missing one on are kept as written,
// so a path can name something about to be created. A drive prefix ("C:") stands for the
// root directory; "." and ".." keep their POSIX meaning. A trailing separator is kept.
//
// Example: "/opt/app\AVATAR\default\man1.gif" becomes "/opt/app/Avatar/Default/man1.gif"
// when the directories Avatar and Default exist.
#pragma once
#include <string>

#include "windef.h"

namespace platform {

std::string ToPosixPath(LPCTSTR windowsPath);

// Compares two names as the original file system does: byte for byte except that ASCII
// letters match without regard to case.
bool NamesEqualNoCase(const std::string& a, const std::string& b);

// Matches a name against a pattern of '*' (any run) and '?' (any one character) without regard
// to case; "*.*" matches every name and a final '.' also matches the end of a name without
// one ("*." finds the names without an extension), as on the original platform.
bool MatchesWildcard(const std::string& name, const std::string& pattern);

}  // namespace platform
