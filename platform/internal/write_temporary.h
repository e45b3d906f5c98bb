// The temporary file of a whole-file write, shared by the profile calls and the registry.
// Private to the platform layer; platform/write_temporaries.h removes the ones left behind.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>

#include <string>

namespace platform::internal {

// The name a temporary file gets: the file's own name, a dot and six characters.
constexpr char kTemporarySuffix[] = ".XXXXXX";
constexpr size_t kTemporarySuffixLength = sizeof kTemporarySuffix - 1;

// Creates the temporary file for a write of posixPath (close-on-exec, mode 0600) and marks it
// as being written: *name receives its path. -1 with errno set on failure.
inline int CreateWriteTemporary(const std::string& posixPath, std::string* name) {
    *name = posixPath + kTemporarySuffix;
    const int fd = mkostemp(name->data(), O_CLOEXEC);
    if (fd >= 0) flock(fd, LOCK_EX | LOCK_NB);  // a new file: nobody else can hold it yet
    return fd;
}

}  // namespace platform::internal
