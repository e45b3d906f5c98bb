// Opening the store's files without ever leaving the store (the shared BeneathOpen.h): the
// POSIX side's way into the store.
#pragma once

#include <fcntl.h>

#include <string>

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

}  // namespace nimbrel
