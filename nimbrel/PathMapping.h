// Windows paths as the control hands them over ("/opt/app\Avatar\Up\10001.gif",
// any letter case) to POSIX paths, plus lexical normalisation for containment checks.
#pragma once

#include <string>
#include <string_view>

namespace nimbrel {

// The POSIX path of a Windows-style path, as the rest of the process sees it.
std::string ToPosix(std::string_view windowsPath);

// Lexically normalised absolute or relative POSIX path: doubled and trailing slashes
// dropped, "." removed, ".." taking away the component before it (never above "/").
std::string NormalisePosixPath(std::string_view path);

// True when `path` lies strictly below `root`; both are normalised first.
bool IsBelow(std::string_view root, std::string_view path);

// True when any component of the path (separated by '\' or '/') is "..".
bool HasParentComponent(std::string_view path);

}  // namespace nimbrel
