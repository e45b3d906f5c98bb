// Opens of files that are still missing, answered from memory.
//
// An open that finds a file missing (ERROR_FILE_NOT_FOUND) leaves inotify watches on the
// file's directory and on each directory above it; until one of them reports a change to a
// name on the file's path, or the watch itself goes, the next open of the same path fails with
// ERROR_FILE_NOT_FOUND without looking at the disk. The events are read before every answer,
// so a file that appears (created, renamed in, its directory made anew, a file system mounted
// on the way) is seen by the first open after it. Whenever the layer cannot be sure, it looks at
// the disk: no inotify, watch limit reached, queue overflow, a symbolic link on the path, a
// relative path, or a file system whose changes may come from elsewhere (only local file systems
// are watched).
#pragma once

namespace platform {

// On by default. Off, every open looks at the disk (and what is remembered is forgotten).
void SetMissingFileMemo(bool enabled);

// How many paths are remembered as missing now (for tests and diagnostics).
int RememberedMissingFiles();

// How many folder names (as written) are remembered now (for tests and diagnostics): below a
// confined folder (platform/confined_opens.h) the memo also remembers how the folder of a path
// resolves, and that folder's entries, under the same watches and the same forgetting; such
// paths then resolve, and their missing files fail, without a look at the disk.
int RememberedFolders();

}  // namespace platform
