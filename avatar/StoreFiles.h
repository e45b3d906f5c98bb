// How the control looks at the store's files on disk.
#pragma once

#include "afx.h"

// A store file exists for the control when it can be opened for reading while denying write
// access to others: a file the download service still holds open for writing does not count.
BOOL PassesExistenceTest(LPCTSTR path);

enum class StoredPicture {
    missing,        // fails the existence test
    statusUnknown,  // exists, but its status cannot be read
    stale,          // modified more than kFreshnessSeconds before now
    fresh,          // modified at most kFreshnessSeconds before now, or in the future
};

// The existence test, then the current time, then the file's modification time.
StoredPicture ExamineStoredPicture(LPCTSTR path);

// What tells a stored file apart from the one that was there before: a file put in place anew
// has its own creation time, one confirmed and touched has a new write time.
struct StoreFileIdentity {
    FILETIME written;
    FILETIME created;
    DWORD length;
};

// The identity of the file at `path`; FALSE when there is none.
BOOL IdentifyStoreFile(LPCTSTR path, StoreFileIdentity* identity);
BOOL SameStoreFile(const StoreFileIdentity& one, const StoreFileIdentity& other);

// The version recorded for (imageType, faceMode) in the version file at `path`. FALSE when the
// file cannot be opened for reading without sharing or read, or the pair has no entry.
BOOL ReadRecordedVersion(LPCTSTR path, int imageType, int faceMode, int* version);

// Records `version` for (imageType, faceMode) in the version file at `path`, keeping every
// other entry; a missing file is made whole first, with every entry "00001". The entry is
// written in place: the file is never cut, so neither a reader nor a crash meets a short table,
// and an entry caught mid-write reads as 0 (kVersionEntryBeingWritten). A short file is completed
// with "00001" entries, a long one cut back to the table. Nothing is written for a pair without
// an entry. After a failed read or write the file is deleted, so that the next version check
// downloads again.
void RecordVersion(LPCTSTR path, int imageType, int faceMode, int version);
