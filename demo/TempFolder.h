// A new, empty folder of the run's own under the temporary directory.
#pragma once

#include <string>

namespace demo {

// Makes "<temporary directory>/<prefix>.<unique>" and returns its path; empty when it cannot.
// The temporary directory is $TMPDIR (or /tmp) on Linux, the system's (GetTempPath) on Windows.
std::string MakeTemporaryFolder(const char* prefix);

}  // namespace demo
