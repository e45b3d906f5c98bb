// Opening the store's files without ever leaving the store (the shared BeneathOpen.h), and the
// few names the library adds to it.
#pragma once

#include <fcntl.h>

#include <string>
#include <string_view>

#include "BeneathOpen.h"

namespace nimbrel {

using beneath::OpenBeneath;
using beneath::Resolution;
using beneath::UniqueFd;

// Opens a directory given by its full path, links in that path followed (the store root may
// well lie behind one), for use as the starting point of OpenBeneath. -1 with errno on failure.
inline int OpenDirectory(const std::string& path) {
    return ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The part of a '/'-separated path before its last component ("" when there is none), and the
// last component.
inline std::string_view ParentOf(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
}
inline std::string_view NameOf(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string_view::npos ? relative : relative.substr(slash + 1);
}

}  // namespace nimbrel
